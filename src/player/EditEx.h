#pragma once

#include <QPlainTextEdit>

// An edit with its own font and colours that tells its parent when editing
// ends (Enter, or losing the focus after a change) and when its text changes.
// Enter is reported before it is processed, so it still breaks the line.
class CEditEx : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit CEditEx(int controlId, QWidget* parent = nullptr);

    int controlId() const { return m_controlId; }

    // Replaces the text without a change notice; the modified mark is cleared,
    // as a new text is unmodified.
    void setText(const QString& text);
    QString text() const { return toPlainText(); }

    // Blue text on light grey, for a field that may not be edited.
    void SetReadOnlyLook();
    // A 10-point font sized for the screen the control is on.
    void RecreateFontForScreen();

Q_SIGNALS:
    // focusLost: true when the control lost the focus with its text modified
    // (after the first change, every focus loss), false for Enter.
    void commit(int controlId, bool focusLost);
    // The user changed the text while the control is visible.
    void changed(int controlId);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void setColours(const QColor& text, const QColor& background);

    int m_controlId;
    bool m_settingText = false;
};
