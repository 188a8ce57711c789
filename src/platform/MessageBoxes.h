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

// A presenter that stands in front of the one in place while it lives, and
// passes messages on to it (previous()). Such presenters are stacked: each one
// goes before the one it replaced.
class StackedMessagePresenter : public MessagePresenter
{
public:
    StackedMessagePresenter();
    ~StackedMessagePresenter() override;
    StackedMessagePresenter(const StackedMessagePresenter&) = delete;
    StackedMessagePresenter& operator=(const StackedMessagePresenter&) = delete;

protected:
    MessagePresenter& previous() const { return *m_previous; }

private:
    MessagePresenter* m_previous;
};

// While it lives, a message with only an OK button whose text is in shown
// already is not shown again; the texts it shows are added to shown. A long
// run of files that each fail the same way (a write-protected card) tells it
// once. Questions always go through.
class MessagesShownOnce final : public StackedMessagePresenter
{
public:
    explicit MessagesShownOnce(QStringList& shown) : m_shown(shown) {}

    MessageAnswer present(const QString& text, MessageIcon icon, MessageButtons buttons) override;

private:
    QStringList& m_shown;
};
