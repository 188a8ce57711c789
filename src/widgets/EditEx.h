#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <QValidator>

class QValidator;

// An edit with its own font and colours that tells its parent when editing
// ends (Enter, or the focus leaving after a change) and when its text changes.
//
// One class serves the panel's multi-line memo and the register's single-line
// fields, so both share one input path: whatever the user types, pastes, drops
// or commits through an input method passes the same rules (no line breaks in
// a single line, the CP932 byte limit, the validator) before it reaches the
// text, and only the part that passes is inserted. A QPlainTextEdit in
// single-line mode is used rather than a QLineEdit because a QLineEdit could
// only be had by wrapping one of two different widgets, which would split that
// input path in two and hide the memo's QPlainTextEdit interface behind a proxy.
class CEditEx : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit CEditEx(int controlId, QWidget* parent = nullptr);

    int controlId() const { return m_controlId; }

    // Replaces the text without a change notice and clears the modified mark:
    // a text set by the program is unmodified. The rules for the user's input
    // do not apply, except that a single line drops line breaks.
    void setText(const QString& text);
    QString text() const { return toPlainText(); }

    // One line, one line high, for a field (set it before the text): Enter is
    // reported and then left to the parent (the dialog decides what it does),
    // Tab moves the focus, and line breaks in pasted or dropped text are
    // removed, joining its lines, so that "Bob\n" copied from a list is "Bob"
    // and adds no blank that would count against the byte limit. Off (the
    // default) is the multi-line memo, in which Enter is reported and then
    // breaks the line.
    void setSingleLine(bool singleLine);
    bool isSingleLine() const { return m_singleLine; }

    // The text is CP932 text of at most this many bytes (a half-width
    // character one byte, a full-width one two; in the multi-line memo a line
    // break two, since it is stored as CR LF). Input that would pass the
    // limit is cut back to what fits, never inside a character; a character
    // CP932 cannot hold is refused. Negative: no limit and no CP932 rule.
    void setByteLimit(int bytes);
    int byteLimit() const { return m_byteLimit; }

    // A rule for each character the user enters, as QLineEdit's validator: a
    // character that makes the text Invalid is refused (for example digits
    // only for a number). Not owned; nullptr for none.
    void setValidator(const QValidator* validator);
    const QValidator* validator() const { return m_validator; }

    // Set by the user's first change and kept, even when undo brings the old
    // text back; only setText clears it.
    bool isModifiedByUser() const { return m_modified; }

    // Blue text on light grey, for a field that may not be edited.
    void SetReadOnlyLook();
    // A 10-point font sized for the screen the control is on.
    void RecreateFontForScreen();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // focusLost: true when the focus left the control (to another control or
    // another window, not to a popup such as its context menu) with its text
    // modified, false for Enter. A control that is hidden, or whose window is
    // being hidden or destroyed, sends nothing.
    void commit(int controlId, bool focusLost);
    // The text changed while the control is visible (never for setText).
    void changed(int controlId);
    // Part of what the user entered was left out. reason is a message for the
    // user (a character CP932 cannot hold, or the byte limit), empty when the
    // validator refused it.
    void inputRefused(int controlId, const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void changeEvent(QEvent* event) override;

private:
    bool hasInputRules() const { return m_singleLine || m_byteLimit >= 0 || m_validator; }
    bool typesText(const QKeyEvent* event) const;
    // The part of input that may replace the selection (or go in at the caret).
    QString acceptedInput(const QString& input);
    // Bytes of one character, and of a text already in the control, as stored.
    int storedBytes(QStringView character) const;
    int storedBytes(const QString& text) const;
    bool mayNotify() const;
    void setColours(const QColor& text, const QColor& background);

    int m_controlId;
    bool m_settingText = false;
    bool m_modified = false;
    bool m_singleLine = false;
    int m_byteLimit = -1;
    QPointer<const QValidator> m_validator;
};
