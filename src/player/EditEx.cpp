#include "EditEx.h"

#include <QKeyEvent>

namespace {

// A monospaced face that holds Japanese, standing in for the recorder world's
// usual gothic face; the first one installed is taken.
QStringList fontFamilies()
{
    return {QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP"),
            QStringLiteral("monospace")};
}

} // namespace

CEditEx::CEditEx(int controlId, QWidget* parent) : QPlainTextEdit(parent), m_controlId(controlId)
{
    QFont font;
    font.setFamilies(fontFamilies());
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    setFont(font);
    setColours(Qt::black, Qt::white);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_settingText && isVisible())
            Q_EMIT changed(m_controlId);
    });
}

void CEditEx::setText(const QString& text)
{
    m_settingText = true;
    setPlainText(text);
    m_settingText = false;
}

void CEditEx::SetReadOnlyLook()
{
    setColours(QColor(0, 0, 255), QColor(200, 200, 200));
    update();
}

void CEditEx::RecreateFontForScreen()
{
    QFont font;
    font.setFamilies(fontFamilies());
    font.setPointSize(10);
    font.setWeight(QFont::Normal);
    setFont(font);
}

void CEditEx::setColours(const QColor& text, const QColor& background)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Text, text);
    colours.setColor(QPalette::Base, background);
    setPalette(colours);
}

void CEditEx::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        Q_EMIT commit(m_controlId, false);
    QPlainTextEdit::keyPressEvent(event);
}

void CEditEx::focusOutEvent(QFocusEvent* event)
{
    // The modified mark is the document's own and is never cleared here.
    if (isVisible() && document()->isModified())
        Q_EMIT commit(m_controlId, true);
    QPlainTextEdit::focusOutEvent(event);
}
