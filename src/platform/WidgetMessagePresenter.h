#pragma once

#include "MessageBoxes.h"

#include <QPointer>
#include <QWidget>

// Shows messages as modal message boxes over the given parent window.
class WidgetMessagePresenter final : public MessagePresenter
{
public:
    explicit WidgetMessagePresenter(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParentWindow(QWidget* parent) { m_parent = parent; }

    MessageAnswer present(const QString& text, MessageIcon icon,
                          MessageButtons buttons) override;

private:
    QPointer<QWidget> m_parent;
};
