#include "MessageBoxes.h"

#include "ProgramIdentity.h"

#include <QtGlobal>

#include <cstdio>

namespace {

class StandardErrorPresenter final : public MessagePresenter
{
public:
    MessageAnswer present(const QString& text, MessageIcon, MessageButtons buttons) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(kProgramTitle), qPrintable(text));
        switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::OkCancel:
            return MessageAnswer::Cancel;
        }
        return MessageAnswer::Cancel;
    }
};

StandardErrorPresenter g_standardErrorPresenter;
MessagePresenter* g_presenter = &g_standardErrorPresenter;

} // namespace

void SetMessagePresenter(MessagePresenter* presenter)
{
    g_presenter = presenter ? presenter : &g_standardErrorPresenter;
}

MessagePresenter* CurrentMessagePresenter()
{
    return g_presenter;
}

void ShowMessage(const QString& text, MessageIcon icon)
{
    g_presenter->present(text, icon, MessageButtons::Ok);
}

bool AskYesNo(const QString& text, MessageIcon icon)
{
    return g_presenter->present(text, icon, MessageButtons::YesNo) == MessageAnswer::Yes;
}

bool AskOkCancel(const QString& text, MessageIcon icon)
{
    return g_presenter->present(text, icon, MessageButtons::OkCancel) == MessageAnswer::Ok;
}

StackedMessagePresenter::StackedMessagePresenter() : m_previous(CurrentMessagePresenter())
{
    SetMessagePresenter(this);
}

StackedMessagePresenter::~StackedMessagePresenter()
{
    Q_ASSERT(CurrentMessagePresenter() == this);
    SetMessagePresenter(m_previous);
}

MessageAnswer MessagesShownOnce::present(const QString& text, MessageIcon icon, MessageButtons buttons)
{
    if (buttons == MessageButtons::Ok) {
        if (m_shown.contains(text))
            return MessageAnswer::Ok;
        m_shown.append(text);
    }
    return previous().present(text, icon, buttons);
}
