#include "Utility/BuildInfo.h"
#include "ui/AboutDialog.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

class TestAboutDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void buildDateText_data();
    void buildDateText();
    void aboutBoxLines_data();
    void aboutBoxLines();
    void buildRecordsItsDateAndCommit();
    void dialogIsFixedAndOkHidesIt();
};

void TestAboutDialog::initTestCase()
{
    // Month names read with the system's language would fail in this one; main selects it.
    QCOMPARE(QLocale::system().monthName(5, QLocale::ShortFormat), QStringLiteral("Mai"));
}

void TestAboutDialog::buildDateText_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("text");

    QTest::newRow("the 8th, with the compiler's two spaces") << "Apr  8 2023"
                                                             << "09:13:12"
                                                             << "2023.04.08 09:13:12";
    QTest::newRow("the 28th") << "Apr 28 2023"
                              << "09:13:12"
                              << "2023.04.28 09:13:12";
    QTest::newRow("May, named otherwise in the system's language") << "May  5 2023"
                                                                   << "23:59:59"
                                                                   << "2023.05.05 23:59:59";
    QTest::newRow("October") << "Oct 10 2022"
                             << "00:00:00"
                             << "2022.10.10 00:00:00";
    QTest::newRow("December") << "Dec 31 1999"
                              << "12:00:01"
                              << "1999.12.31 12:00:01";
    QTest::newRow("not a month") << "Foo 12 2023"
                                 << "09:13:12" << QString();
    QTest::newRow("no such day") << "Feb 30 2023"
                                 << "09:13:12" << QString();
    QTest::newRow("no time") << "Apr 28 2023" << QString() << QString();
    QTest::newRow("nothing") << QString() << QString() << QString();
}

void TestAboutDialog::buildDateText()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, text);
    QCOMPARE(AboutDialog::BuildDateText(date, time), text);
}

void TestAboutDialog::aboutBoxLines_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");

    QTest::newRow("title") << "lblTitle"
                           << "Kestrane Praxilo";
    QTest::newRow("version") << "lblVersion"
                             << "Version:" + QString(7, ' ') + "W2316.00.000";
    QTest::newRow("owner") << "lblOwner"
                           << "Owner:" + QString(9, ' ') + "Kestrane Systems Engineering";
    QTest::newRow("build date") << "lblBuildDate"
                                << "Build Date:" + QString(4, ' ') +
                                       AboutDialog::BuildDateText(BuildInfo::Date(), BuildInfo::Time());
}

void TestAboutDialog::aboutBoxLines()
{
    QFETCH(QString, label);
    QFETCH(QString, text);
    AboutDialog dialog(nullptr);
    const auto* shown = dialog.findChild<QLabel*>(label);
    QVERIFY(shown);
    QCOMPARE(shown->text(), text);
}

void TestAboutDialog::buildRecordsItsDateAndCommit()
{
    const QString date = QString::fromLatin1(BuildInfo::Date());
    const QString time = QString::fromLatin1(BuildInfo::Time());
    QVERIFY2(QRegularExpression("^[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}$").match(date).hasMatch(),
             qPrintable(date));
    QVERIFY2(QRegularExpression("^[0-9]{2}:[0-9]{2}:[0-9]{2}$").match(time).hasMatch(), qPrintable(time));
    const QString commit = QString::fromLatin1(BuildInfo::CommitId());
    QVERIFY2(QRegularExpression("^([0-9a-f]{4,40}|unknown)$").match(commit).hasMatch(), qPrintable(commit));

    const QDateTime built =
        QDateTime::fromString(AboutDialog::BuildDateText(date, time), "yyyy.MM.dd hh:mm:ss");
    QVERIFY(built.isValid());
    // The binary running now was built before now, and linked after the build information was compiled.
    QVERIFY(built <= QDateTime::currentDateTime().addSecs(1));
    QVERIFY(built <= QFileInfo(QCoreApplication::applicationFilePath()).lastModified().addSecs(1));
}

void TestAboutDialog::dialogIsFixedAndOkHidesIt()
{
    AboutDialog dialog(nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Praxilo"));
    QCOMPARE(dialog.minimumSize(), QSize(448, 363));
    QCOMPARE(dialog.maximumSize(), QSize(448, 363));
    const auto* logo = dialog.findChild<QLabel*>("lblLogo");
    // This test never registers the images itself: the dialog must.
    QVERIFY(logo);
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(200, 120));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.isModal());
    auto* ok = dialog.findChild<QPushButton*>("btnComfirm");
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

int main(int argc, char* argv[])
{
    // A system language whose month names differ from the compiler's English ones.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestAboutDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_aboutdialog.moc"
