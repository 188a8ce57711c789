#pragma once

#include <QString>
#include <QStringList>

enum class MessageIcon { Information, Warning, Error, Question, None };
enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// Where message boxes go. The program installs one that shows real dialogs;
// tests install one that records texts and answers from a script. Every box is
// captioned with the program's title.
class MessagePresenter
{
public:
    virtual ~MessagePresenter() = default;
    virtual MessageAnswer present(const QString& text, MessageIcon icon,
                                  MessageButtons buttons) = 0;
};

// Installs a presenter (not owned); nullptr restores the default, which writes
// the text to standard error and answers Ok, No or Cancel.
void SetMessagePresenter(MessagePresenter* presenter);
// The presenter in place (the default one when none was installed).
MessagePresenter* CurrentMessagePresenter();

// Shows a message with an OK button.
void ShowMessage(const QString& text, MessageIcon icon);
// Asks with Yes and No buttons; true for Yes.
bool AskYesNo(const QString& text, MessageIcon icon = MessageIcon::Question);
// Asks with OK and Cancel buttons; true for OK.
bool AskOkCancel(const QString& text, MessageIcon icon = MessageIcon::Question);

// While it lives, a message with only an OK button whose text is in shown
// already is not shown again; the texts it shows are added to shown. A long
// run of files that each fail the same way (a write-protected card) tells it
// once. Questions always go through. Presenters are stacked: each one goes
// before the one it replaced.
class MessagesShownOnce final : public MessagePresenter
{
public:
    explicit MessagesShownOnce(QStringList& shown);
    ~MessagesShownOnce() override;
    MessagesShownOnce(const MessagesShownOnce&) = delete;
    MessagesShownOnce& operator=(const MessagesShownOnce&) = delete;

    MessageAnswer present(const QString& text, MessageIcon icon, MessageButtons buttons) override;

private:
    MessagePresenter* m_previous;
    QStringList& m_shown;
};
