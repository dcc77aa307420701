#include "ui/StationPanelColumns.h"

#include <QEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QTableWidget>
#include <QToolTip>

#include <algorithm>

namespace {

// Room for a cell's margins around its text.
constexpr int kTextPadding = 8;

} // namespace

StationPanelColumns::StationPanelColumns(QTableWidget* table, QVector<int> widths, QVector<int> order, int kept)
    : QObject(table), table(table), widths(std::move(widths)), order(std::move(order)), kept(kept)
{
    // Columns give way instead: a scroll bar would hide the row's end behind it.
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport = table->viewport();
    viewport->installEventFilter(this);
    for (int column = 0; column < table->columnCount() && column < this->widths.size(); ++column)
        table->setColumnWidth(column, this->widths[column]);
    Fit();
}

int StationPanelColumns::Chrome() const
{
    const int header = table->verticalHeader()->isHidden() ? 0 : table->verticalHeader()->sizeHint().width();
    return header + 2 * table->frameWidth();
}

int StationPanelColumns::NarrowestWidth() const
{
    int width = Chrome();
    for (int i = 0; i < kept && i < order.size(); ++i)
        width += widths.value(order[i]);
    return width;
}

int StationPanelColumns::FullWidth() const
{
    int width = Chrome();
    for (int column = 0; column < table->columnCount(); ++column)
        width += widths.value(column, table->horizontalHeader()->defaultSectionSize());
    return width;
}

bool StationPanelColumns::FitText(int column, const QString& text)
{
    const int needed = table->fontMetrics().horizontalAdvance(text) + kTextPadding;
    if (column < 0 || column >= widths.size() || needed <= widths[column])
        return false;
    widths[column] = needed;
    table->setColumnWidth(column, needed);
    Fit();
    return true;
}

void StationPanelColumns::Fit()
{
    QVector<int> byWeight = order;
    for (int column = 0; column < table->columnCount(); ++column) {
        if (!byWeight.contains(column))
            byWeight.append(column);
    }
    int room = table->viewport()->width();
    for (int i = 0; i < byWeight.size(); ++i) {
        const int column = byWeight[i];
        const int width = widths.value(column, table->horizontalHeader()->defaultSectionSize());
        const bool shown = i < kept || width <= room;
        room -= shown ? width : 0;
        // Once one gives way, every lighter one does too, so the columns shown never skip one of more weight.
        if (!shown)
            room = -1;
        if (table->isColumnHidden(column) == shown) {
            table->setColumnHidden(column, !shown);
            if (shown)
                table->setColumnWidth(column, width);
        }
    }
}

bool StationPanelColumns::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport) {
        if (event->type() == QEvent::Resize)
            Fit();
        else if (event->type() == QEvent::ToolTip)
            return ShowRowToolTip(event);
    }
    return QObject::eventFilter(watched, event);
}

QString StationPanelColumns::RowToolTip(int row, int column) const
{
    QStringList lines;
    if (const QTableWidgetItem* item = table->item(row, column); item != nullptr && !item->toolTip().isEmpty())
        lines << item->toolTip();
    for (int hidden = 0; hidden < table->columnCount(); ++hidden) {
        const QTableWidgetItem* item = table->item(row, hidden);
        if (!table->isColumnHidden(hidden) || item == nullptr || item->text().isEmpty())
            continue;
        const QTableWidgetItem* header = table->horizontalHeaderItem(hidden);
        const QString detail = item->toolTip().isEmpty() ? item->text() : item->toolTip();
        lines << (header != nullptr ? header->text() + QStringLiteral(": ") : QString()) + detail;
    }
    return lines.join(QLatin1Char('\n'));
}

bool StationPanelColumns::ShowRowToolTip(QEvent* event)
{
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex at = table->indexAt(help->pos());
    const QString text = at.isValid() ? RowToolTip(at.row(), at.column()) : QString();
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), text, table->viewport(), table->visualRect(at));
    return true;
}
