#include "FileCopyDlg.h"

#include <QBasicTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProgressBar>
#include <algorithm>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QtMath>

namespace {

constexpr int kSceneWidth = 300;
constexpr int kSceneHeight = 64;
constexpr int kFrameMs = 66;        // about 15 frames a second
constexpr int kFlightFrames = 18;   // frames of one sheet on its way
constexpr int kCycleFrames = 24;    // the rest of the cycle shows no sheet
constexpr qreal kSourceX = 48;
constexpr qreal kTargetX = 252;

// A sheet of paper leaves one folder and lands in another (copy, move) or in a
// bin (delete), again and again. The scene that does not move is drawn once into
// two layers, behind and in front of the sheet, so a frame costs two pixmap
// copies and one small path: cheap enough for a thread that is busy between files.
class CopyAnimation : public QWidget
{
public:
    CopyAnimation(bool toBin, QWidget* parent) : QWidget(parent), m_toBin(toBin)
    {
        setFixedSize(kSceneWidth, kSceneHeight);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void showEvent(QShowEvent*) override { m_timer.start(kFrameMs, Qt::CoarseTimer, this); }
    void hideEvent(QHideEvent*) override { m_timer.stop(); }

    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != m_timer.timerId())
            return QWidget::timerEvent(event);
        m_frame = (m_frame + 1) % kCycleFrames;
        update();
    }

    void paintEvent(QPaintEvent*) override
    {
        const qreal ratio = devicePixelRatioF();
        if (m_back.isNull() || m_back.devicePixelRatio() != ratio)
            drawLayers(ratio);
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_back);
        if (m_frame < kFlightFrames)
            drawSheet(painter, qreal(m_frame) / (kFlightFrames - 1));
        painter.drawPixmap(0, 0, m_front);
    }

private:
    static QPixmap emptyLayer(qreal ratio, const QColor& fill)
    {
        QPixmap layer(QSize(kSceneWidth, kSceneHeight) * ratio);
        layer.setDevicePixelRatio(ratio);
        layer.fill(fill);
        return layer;
    }

    void drawLayers(qreal ratio)
    {
        m_back = emptyLayer(ratio, palette().color(QPalette::Window));
        m_front = emptyLayer(ratio, Qt::transparent);
        QPainter back(&m_back);
        QPainter front(&m_front);
        back.setRenderHint(QPainter::Antialiasing);
        front.setRenderHint(QPainter::Antialiasing);
        drawFolder(back, front, kSourceX);
        if (m_toBin)
            drawBin(back, front, kTargetX);
        else
            drawFolder(back, front, kTargetX);
    }

    static void drawFolder(QPainter& back, QPainter& front, qreal x)
    {
        const QColor edge(150, 105, 20);
        QPainterPath rear;
        rear.moveTo(x - 28, 58);
        rear.lineTo(x - 28, 20);
        rear.lineTo(x - 8, 20);
        rear.lineTo(x - 4, 25);
        rear.lineTo(x + 28, 25);
        rear.lineTo(x + 28, 58);
        rear.closeSubpath();
        back.setPen(QPen(edge, 1.2));
        back.setBrush(QColor(222, 170, 55));
        back.drawPath(rear);

        QLinearGradient shade(0, 33, 0, 58);
        shade.setColorAt(0, QColor(255, 222, 120));
        shade.setColorAt(1, QColor(240, 188, 70));
        const QPointF flap[] = {{x - 24, 33}, {x + 32, 33}, {x + 28, 58}, {x - 28, 58}};
        front.setPen(QPen(edge, 1.2));
        front.setBrush(shade);
        front.drawPolygon(flap, 4);
    }

    static void drawBin(QPainter& back, QPainter& front, qreal x)
    {
        const QColor edge(70, 78, 88);
        back.setPen(QPen(edge, 1.2));
        back.setBrush(QColor(55, 60, 68));
        back.drawEllipse(QRectF(x - 22, 24, 44, 9));

        QLinearGradient metal(x - 20, 0, x + 20, 0);
        metal.setColorAt(0, QColor(150, 160, 172));
        metal.setColorAt(0.45, QColor(222, 228, 234));
        metal.setColorAt(1, QColor(130, 140, 152));
        QPainterPath body;
        body.moveTo(x - 22, 28.5);
        body.arcTo(QRectF(x - 22, 24, 44, 9), 180, 180);
        body.lineTo(x + 17, 61);
        body.lineTo(x - 17, 61);
        body.closeSubpath();
        front.setPen(QPen(edge, 1.2));
        front.setBrush(metal);
        front.drawPath(body);
        front.setPen(QPen(QColor(110, 120, 132), 1));
        for (const qreal rib : {-10.0, 0.0, 10.0})
            front.drawLine(QPointF(x + rib, 36), QPointF(x + rib * 0.8, 57));
        front.setPen(QPen(edge, 1.6));
        front.setBrush(Qt::NoBrush);
        front.drawEllipse(QRectF(x - 22, 24, 44, 9));
    }

    // t runs from 0 (inside the source folder) to 1 (inside the target).
    void drawSheet(QPainter& painter, qreal t) const
    {
        const qreal endY = m_toBin ? 44 : 42;
        const qreal x = kSourceX + (kTargetX - kSourceX) * t;
        const qreal y = 40 + (endY - 40) * t - 120 * t * (1 - t);
        const qreal angle = m_toBin ? 300 * t * t : 24 * qSin(t * M_PI * 2);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(x, y);
        painter.rotate(angle);
        QPainterPath sheet;
        sheet.moveTo(-7, -9);
        sheet.lineTo(3, -9);
        sheet.lineTo(7, -5);
        sheet.lineTo(7, 9);
        sheet.lineTo(-7, 9);
        sheet.closeSubpath();
        painter.setPen(QPen(QColor(90, 90, 90), 1));
        painter.setBrush(Qt::white);
        painter.drawPath(sheet);
        painter.setPen(QPen(QColor(120, 150, 200), 1));
        for (int line = 0; line < 4; ++line)
            painter.drawLine(QPointF(-4, -4 + line * 3.5), QPointF(4, -4 + line * 3.5));
        painter.resetTransform();
    }

    bool m_toBin;
    int m_frame = 0;
    QBasicTimer m_timer;
    QPixmap m_back;
    QPixmap m_front;
};

QString titleFor(int operation)
{
    switch (operation) {
    case CFileCopyDlg::Move:
        return QStringLiteral("ファイルの移動");
    case CFileCopyDlg::Delete:
        return QStringLiteral("ファイルの削除");
    default:
        return QStringLiteral("ファイルのコピー");
    }
}

QLabel* textLine(QWidget* parent)
{
    auto* label = new QLabel(parent);
    // A long file name is cut at the window's edge instead of widening it.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    label->setMinimumHeight(label->fontMetrics().height());
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The file bar's resolution.
constexpr int kFileBarSteps = 1000;

} // namespace

CFileCopyDlg::CFileCopyDlg(int operation, QWidget* parent)
    : QDialog(parent), m_operation(operation),
      m_animation(new CopyAnimation(operation == Delete, this)), m_progressBar(new QProgressBar(this)),
      m_fileBar(new QProgressBar(this)), m_progressText(textLine(this)), m_fileNameText(textLine(this)),
      m_cancelButton(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this))
{
    setWindowTitle(titleFor(operation));
    setModal(false);
    m_progressBar->setTextVisible(false);
    m_fileBar->setTextVisible(false);
    m_fileBar->setRange(0, kFileBarSteps);
    m_fileBar->setValue(0);
    m_fileBar->setFixedHeight(6);
    setRange(0);
    connect(m_cancelButton, &QPushButton::clicked, this, &CFileCopyDlg::requestCancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_animation, 0, Qt::AlignHCenter);
    layout->addWidget(m_progressText);
    layout->addWidget(m_fileNameText);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_fileBar);
    layout->addLayout(buttons);
    setMinimumWidth(kSceneWidth + 60);
    // The sizes are settled before the window exists: it opens at its final size.
    layout->activate();
}

void CFileCopyDlg::setRange(int files)
{
    // A range of 0..0 would turn the bar into a busy indicator.
    m_progressBar->setRange(0, qMax(files, 1));
    if (files <= 0)
        m_progressBar->setValue(0);
}

void CFileCopyDlg::setProgress(int done, const QString& text, const QString& fileName)
{
    m_progressBar->setValue(done);
    m_progressText->setText(text);
    m_fileNameText->setText(fileName);
}

void CFileCopyDlg::setFileProgress(int64_t done, int64_t total)
{
    m_fileBar->setValue(total > 0 ? int(std::clamp<int64_t>(done * kFileBarSteps / total, 0, kFileBarSteps)) : 0);
}

void CFileCopyDlg::reject()
{
    requestCancel();
}

void CFileCopyDlg::requestCancel()
{
    m_cancelRequested = true;
}
