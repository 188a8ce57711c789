#include "WidgetMessagePresenter.h"

#include "ProgramIdentity.h"

#include <QMessageBox>

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MessageAnswer WidgetMessagePresenter::present(const QString& text, MessageIcon icon,
                                              MessageButtons buttons)
{
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
    if (buttons == MessageButtons::YesNo) {
        standard = QMessageBox::Yes | QMessageBox::No;
        defaultButton = QMessageBox::Yes;
    } else if (buttons == MessageButtons::OkCancel) {
        standard = QMessageBox::Ok | QMessageBox::Cancel;
    }
    QMessageBox box(toQtIcon(icon), kProgramTitle, text, standard, m_parent);
    box.setDefaultButton(defaultButton);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    default:
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    }
}
