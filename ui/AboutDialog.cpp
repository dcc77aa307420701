#include "AboutDialog.h"

#include "UiResources.h"
#include "Utility/BuildInfo.h"
#include "ui_AboutDialog.h"

#include <QDateTime>
#include <QLocale>

namespace {

constexpr int kCaptionWidth = 15;
constexpr int kWidth = 448;
constexpr int kHeight = 363;
const char kOwner[] = "Kestrane Systems Engineering";

QString CaptionLine(const QString& caption, const QString& value)
{
    // One call with both arguments: a chained second arg() would substitute inside the first one's text.
    return QStringLiteral("%1%2").arg(caption.leftJustified(kCaptionWidth, QLatin1Char(' ')), value);
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::AboutDialog>())
{
    // The form loads the logo from the resources, which must be registered first.
    InitUiResources();
    ui->setupUi(this);
    connect(ui->btnComfirm, &QPushButton::clicked, this, &QDialog::close);
    setFixedSize(kWidth, kHeight);

    ui->lblTitle->setText(QStringLiteral("Kestrane Praxilo"));
    ui->lblVersion->setText(CaptionLine(tr("Version:"), QString::fromLatin1(BuildInfo::Version())));
    const QString built =
        BuildDateText(QString::fromLatin1(BuildInfo::Date()), QString::fromLatin1(BuildInfo::Time()));
    ui->lblBuildDate->setText(CaptionLine(tr("Build Date:"), built));
    ui->lblOwner->setText(CaptionLine(tr("Owner:"), QString::fromLatin1(kOwner)));
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::BuildDateText(const QString& date, const QString& time)
{
    // The compiler pads a day below 10 with a space; a zero makes it read as "dd".
    QString joined = date + time;
    joined.replace(QStringLiteral("  "), QStringLiteral(" 0"));
    // The compiler's month names are English whatever the system's language.
    const QLocale english(QLocale::English);
    const QDateTime built = english.toDateTime(joined, QStringLiteral("MMM dd yyyyhh:mm:ss"));
    return built.isValid() ? english.toString(built, QStringLiteral("yyyy.MM.dd hh:mm:ss")) : QString();
}
