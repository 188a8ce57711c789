#include "EditEx.h"

#include "platform/Cp932.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QValidator>

namespace {

// A monospaced face that holds Japanese, standing in for the recorder world's
// usual gothic face; the first one installed is taken.
QStringList fontFamilies()
{
    return {QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP"),
            QStringLiteral("monospace")};
}

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// CP932 bytes of one character (one or two UTF-16 units), or -1 when CP932
// cannot hold it. CP932 is stateless, so a text's size is the sum of these.
int cp932Size(QStringView character)
{
    if (character.size() == 1 && character.at(0).unicode() < 0x80)
        return 1;
    const Cp932Encoding encoded = UnicodeToCp932(character.toString());
    return encoded.ok() ? int(encoded.bytes.size()) : -1;
}

// The size of a text already in the control; characters CP932 cannot hold
// (only a text set by the program can have them) count nothing.
int cp932Size(const QString& text)
{
    const Cp932Encoding encoded = UnicodeToCp932(text);
    if (encoded.ok())
        return int(encoded.bytes.size());
    int size = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        size += qMax(0, cp932Size(QStringView(text).mid(i, length)));
        i += length;
    }
    return size;
}

QString withoutLineBreaks(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!isLineBreak(c))
            out.append(c);
    }
    return out;
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
        if (m_settingText)
            return;
        // The document's own flag follows the undo stack, so undoing back to
        // the old text would clear it; this mark does not.
        m_modified = true;
        if (isVisible())
            Q_EMIT changed(m_controlId);
    });
}

void CEditEx::setText(const QString& text)
{
    m_settingText = true;
    setPlainText(m_singleLine ? withoutLineBreaks(text) : text);
    m_settingText = false;
    m_modified = false;
}

void CEditEx::setSingleLine(bool singleLine)
{
    m_singleLine = singleLine;
    setLineWrapMode(singleLine ? NoWrap : WidgetWidth);
    setTabChangesFocus(singleLine);
    setVerticalScrollBarPolicy(singleLine ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(singleLine ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, singleLine ? QSizePolicy::Fixed : QSizePolicy::Expanding);
    updateGeometry();
}

void CEditEx::setByteLimit(int bytes)
{
    m_byteLimit = bytes;
}

void CEditEx::setValidator(const QValidator* validator)
{
    m_validator = validator;
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

QSize CEditEx::sizeHint() const
{
    if (!m_singleLine)
        return QPlainTextEdit::sizeHint();
    const QMargins margins = contentsMargins() + viewportMargins();
    const int inner = 2 * int(document()->documentMargin());
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(QLatin1Char('x')) * 17 + inner + margins.left() +
                margins.right(),
            metrics.lineSpacing() + inner + margins.top() + margins.bottom()};
}

QSize CEditEx::minimumSizeHint() const
{
    if (!m_singleLine)
        return QPlainTextEdit::minimumSizeHint();
    return {sizeHint().height(), sizeHint().height()};
}

void CEditEx::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange && m_singleLine)
        updateGeometry();
    QPlainTextEdit::changeEvent(event);
}

void CEditEx::setColours(const QColor& text, const QColor& background)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Text, text);
    colours.setColor(QPalette::Base, background);
    setPalette(colours);
}

bool CEditEx::typesText(const QKeyEvent* event) const
{
    // The keys whose text the text control itself inserts (as Qt's input
    // control decides); Ctrl+A and its like come with a text but are commands.
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    const QChar first = text.at(0);
    if (first.category() == QChar::Other_Format)
        return true;
    if (event->modifiers() == Qt::ControlModifier ||
        event->modifiers() == (Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    if (first == u'\t')
        return !tabChangesFocus();
    return first.isPrint() || first.category() == QChar::Other_PrivateUse ||
           (first.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate());
}

QString CEditEx::acceptedInput(const QString& input)
{
    const QString whole = toPlainText();
    const QTextCursor cursor = textCursor();
    const QString head = whole.left(cursor.selectionStart());
    const QString tail = whole.mid(cursor.selectionEnd());
    const QString candidate = m_singleLine ? withoutLineBreaks(input) : input;

    int room = m_byteLimit >= 0 ? m_byteLimit - storedBytes(head + tail) : 0;
    QString accepted;
    bool refused = false;
    Cp932Encoding reason; // the first refusal that has a message for the user
    for (qsizetype i = 0; i < candidate.size();) {
        const qsizetype length =
            candidate.at(i).isHighSurrogate() && i + 1 < candidate.size() ? 2 : 1;
        const QStringView character = QStringView(candidate).mid(i, length);
        i += length;
        int size = 0;
        if (m_byteLimit >= 0) {
            size = storedBytes(character);
            if (size < 0) {
                refused = true;
                if (reason.ok()) {
                    reason.error = Cp932Encoding::Error::Unrepresentable;
                    reason.offending = character.toString();
                }
                continue;
            }
            if (size > room) {
                // Input is kept from its start, so what follows the first
                // character that does not fit is left out as well.
                refused = true;
                if (reason.ok()) {
                    reason.error = Cp932Encoding::Error::TooLong;
                    reason.byteLimit = m_byteLimit;
                }
                break;
            }
        }
        if (m_validator) {
            QString text = head + accepted + character.toString() + tail;
            int position = int(head.size() + accepted.size() + character.size());
            if (m_validator->validate(text, position) == QValidator::Invalid) {
                refused = true;
                continue;
            }
        }
        room -= size;
        accepted.append(character);
    }
    if (refused)
        Q_EMIT inputRefused(m_controlId, reason.message());
    return accepted;
}

int CEditEx::storedBytes(QStringView character) const
{
    if (!m_singleLine && character.size() == 1 && isLineBreak(character.at(0)))
        return 2;
    return cp932Size(character);
}

int CEditEx::storedBytes(const QString& text) const
{
    if (m_singleLine)
        return cp932Size(text);
    // The document breaks its lines with LF alone.
    return cp932Size(text) + int(text.count(u'\n'));
}

void CEditEx::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Q_EMIT commit(m_controlId, false);
        if (m_singleLine) {
            // What Enter does in a field is the dialog's to decide.
            event->ignore();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    if (hasInputRules() && !isReadOnly() && typesText(event)) {
        const QString accepted = acceptedInput(event->text());
        if (accepted == event->text())
            QPlainTextEdit::keyPressEvent(event);
        else if (!accepted.isEmpty())
            insertPlainText(accepted);
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CEditEx::inputMethodEvent(QInputMethodEvent* event)
{
    if (hasInputRules() && !isReadOnly() && !event->commitString().isEmpty()) {
        const QString accepted = acceptedInput(event->commitString());
        if (accepted != event->commitString()) {
            QInputMethodEvent kept(event->preeditString(), event->attributes());
            kept.setCommitString(accepted, event->replacementStart(), event->replacementLength());
            QPlainTextEdit::inputMethodEvent(&kept);
            event->setAccepted(kept.isAccepted());
            return;
        }
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void CEditEx::insertFromMimeData(const QMimeData* source)
{
    if (!hasInputRules() || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const QString accepted = acceptedInput(source->text());
    // Nothing accepted leaves the selection as it was.
    if (accepted.isEmpty())
        return;
    QMimeData kept;
    kept.setText(accepted);
    QPlainTextEdit::insertFromMimeData(&kept);
}

bool CEditEx::mayNotify() const
{
    if (!isVisible())
        return false;
    // A window that is being hidden, or destroyed and so hidden first, takes
    // the focus from its controls while they still count as visible; the
    // dialog that would receive the commit may be half destroyed by then.
    for (const QWidget* widget = this; widget; widget = widget->parentWidget()) {
        if (widget->isHidden())
            return false;
    }
    return true;
}

void CEditEx::focusOutEvent(QFocusEvent* event)
{
    // A popup (the context menu among them) hands the focus back when it closes.
    if (event->reason() != Qt::PopupFocusReason && m_modified && mayNotify())
        Q_EMIT commit(m_controlId, true);
    QPlainTextEdit::focusOutEvent(event);
}
