#include "ElidedToolTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

ElidedToolTips::ElidedToolTips(QAbstractItemView* view) : QObject(view), m_view(view), m_viewport(view->viewport())
{
    m_viewport->installEventFilter(this);
}

QString ElidedToolTips::TextAt(const QAbstractItemView& view, const QPoint& position)
{
    const QModelIndex index = view.indexAt(position);
    if (!index.isValid())
        return {};
    const QRect shown = view.visualRect(index).intersected(view.viewport()->rect());
    if (view.sizeHintForIndex(index).width() <= shown.width())
        return {};
    return index.data(Qt::DisplayRole).toString().trimmed();
}

bool ElidedToolTips::eventFilter(QObject* watched, QEvent* event)
{
    // Only the type is looked at first: the filter also sees the events of a view being taken down.
    if (event->type() != QEvent::ToolTip || watched != m_viewport)
        return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = TextAt(*m_view, help->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, m_view->viewport(),
                           m_view->visualRect(m_view->indexAt(help->pos())));
    }
    return true;
}
