#pragma once

#include <QObject>
#include <QString>

class QAbstractItemView;

// Shows an item's whole text as its tooltip when the view cuts it short
// (a long folder label in a narrow tree, a memo wider than its column).
class ElidedToolTips : public QObject
{
public:
    // Watches the view's viewport; owned by the view.
    explicit ElidedToolTips(QAbstractItemView* view);

    // The tooltip for this point of the view's viewport: the item's whole text
    // when the view cuts it short, else empty.
    static QString TextAt(const QAbstractItemView& view, const QPoint& position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView* m_view;
    QWidget* m_viewport;
};
