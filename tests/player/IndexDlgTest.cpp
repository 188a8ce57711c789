#include "TestRegistry.h"
#include "player/IndexDlg.h"
#include "player/PanelArtwork.h"
#include "player/PanelButton.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <functional>

namespace {

// Marks written as "10 40 - - -", "-" for an empty slot, so that tables and
// failure messages read alike.
IndexMarks parseMarks(const QString& text)
{
    IndexMarks marks;
    marks.fill(kEmptyIndexMark);
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int i = 0; i < words.size() && i < kIndexMarkCount; ++i)
        marks[i] = words[i] == QLatin1String("-") ? kEmptyIndexMark : words[i].toUInt();
    return marks;
}

QString showMarks(const IndexMarks& marks)
{
    QStringList words;
    for (const uint32_t mark : marks)
        words.append(mark == kEmptyIndexMark ? QStringLiteral("-") : QString::number(mark));
    return words.join(QLatin1Char(' '));
}

QList<int> sliderValues(const CIndexDlg& dialog)
{
    QList<int> values;
    for (int row = 0; row < kIndexMarkCount; ++row)
        values.append(dialog.slider(row)->value());
    return values;
}

QStringList fieldTexts(const CIndexDlg& dialog)
{
    QStringList texts;
    for (int row = 0; row < kIndexMarkCount; ++row)
        texts.append(dialog.field(row)->text());
    return texts;
}

// A dialog shown and active, as the user meets it.
struct ShownDialog
{
    CIndexDlg dialog;
    QSignalSpy finished{&dialog, &QDialog::finished};

    ShownDialog(uint32_t duration, const QString& marks) : dialog(duration, parseMarks(marks))
    {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
    }
};

} // namespace

class IndexDlgTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsStartAtTheSlots()
    {
        CIndexDlg dialog(600, parseMarks(QStringLiteral("90 - 0 700 599")));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("インデックス"));
        // Empty slots start at 0; a mark past the end sits at the end.
        QCOMPARE(sliderValues(dialog), QList<int>({90, 0, 0, 600, 599}));
        QCOMPARE(fieldTexts(dialog),
                 QStringList({"01:30", "00:00", "00:00", "10:00", "09:59"}));
        for (int row = 0; row < kIndexMarkCount; ++row) {
            QCOMPARE(dialog.slider(row)->maximum(), 600);
            QVERIFY(dialog.field(row)->isReadOnly());
        }
        QCOMPARE(showMarks(dialog.m_marks), QStringLiteral("90 - 0 700 599"));
    }

    void fieldShowsTheSliderPosition_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("under a minute") << 59 << "00:59";
        QTest::newRow("minutes and seconds") << 61 << "01:01";
        QTest::newRow("last two-digit minute") << 5999 << "99:59";
        QTest::newRow("minutes widen past 99") << 6005 << "100:05";
        QTest::newRow("back to 0") << 0 << "00:00";
    }

    void fieldShowsTheSliderPosition()
    {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        CIndexDlg dialog(6005, parseMarks(QStringLiteral("30 30 30 30 30")));
        dialog.slider(3)->setValue(seconds);
        QCOMPARE(dialog.field(3)->text(), text);
        QCOMPARE(CIndexDlg::FormatMarkTime(uint32_t(seconds)), text);
        QCOMPARE(dialog.field(2)->text(), QStringLiteral("00:30"));
    }

    void keyboardMovesTheSliderAndItsField()
    {
        ShownDialog shown(6005, QStringLiteral("-"));
        QVERIFY(QTest::qWaitForWindowActive(&shown.dialog));
        QSlider* last = shown.dialog.slider(4);
        last->setFocus();
        QTest::keyClick(last, Qt::Key_End);
        QCOMPARE(shown.dialog.field(4)->text(), QStringLiteral("100:05"));
        QTest::keyClick(last, Qt::Key_Left);
        QCOMPARE(shown.dialog.field(4)->text(), QStringLiteral("100:04"));
    }

    void okTakesTheSlidersNormalised_data()
    {
        QTest::addColumn<QString>("marks");
        QTest::addColumn<QString>("moves"); // "." leaves a slider where it is
        QTest::addColumn<QString>("result");
        QTest::newRow("sliders left at 0") << "- - - - -" << ". . . . ." << "- - - - -";
        QTest::newRow("slider moved to 0") << "10 20 30 - -" << "0 . . . ." << "20 30 - - -";
        QTest::newRow("sorted") << "- - - - -" << "40 10 . . ." << "10 40 - - -";
        QTest::newRow("equal sliders give one mark") << "- - - - -" << "30 5 30 30 ." << "5 30 - - -";
        QTest::newRow("header as the recorder wrote it") << "50 0 20 - 20" << ". . . . ." << "20 50 - - -";
        QTest::newRow("all five, last at the end") << "- - - - -" << "600 400 300 200 100"
                                                    << "100 200 300 400 600";
    }

    void okTakesTheSlidersNormalised()
    {
        QFETCH(QString, marks);
        QFETCH(QString, moves);
        QFETCH(QString, result);
        CIndexDlg dialog(600, parseMarks(marks));
        const QStringList values = moves.split(QLatin1Char(' '));
        for (int row = 0; row < kIndexMarkCount; ++row) {
            if (values[row] != QLatin1String("."))
                dialog.slider(row)->setValue(values[row].toInt());
        }
        QCOMPARE(showMarks(dialog.m_marks), marks);
        dialog.button(CIndexDlg::IdOk)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(showMarks(dialog.m_marks), result);
    }

    void deleteAllWaitsForOk_data()
    {
        QTest::addColumn<int>("closingButton");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("marks");
        QTest::newRow("then OK") << int(CIndexDlg::IdOk) << int(QDialog::Accepted) << "- - - - -";
        QTest::newRow("then cancel") << int(CIndexDlg::IdCancel) << int(QDialog::Rejected) << "10 20 30 - -";
    }

    void deleteAllWaitsForOk()
    {
        QFETCH(int, closingButton);
        QFETCH(int, result);
        QFETCH(QString, marks);
        CIndexDlg dialog(600, parseMarks(QStringLiteral("10 20 30 - -")));
        dialog.setResult(-1);
        dialog.button(CIndexDlg::IdDeleteAll)->click();
        QCOMPARE(sliderValues(dialog), QList<int>({0, 0, 0, 0, 0}));
        QCOMPARE(fieldTexts(dialog), QStringList({"00:00", "00:00", "00:00", "00:00", "00:00"}));
        QCOMPARE(showMarks(dialog.m_marks), QStringLiteral("10 20 30 - -"));
        QCOMPARE(dialog.result(), -1);

        dialog.button(closingButton)->click();
        QCOMPARE(dialog.result(), result);
        QCOMPARE(showMarks(dialog.m_marks), marks);
    }

    void enterNeverEndsTheDialog_data()
    {
        QTest::addColumn<int>("focused"); // a control id
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        const int slider = CIndexDlg::IdFirstSlider;
        QTest::newRow("slider, Return") << slider << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("slider, keypad Enter") << slider << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("OK, Return") << int(CIndexDlg::IdOk) << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("OK, keypad Enter") << int(CIndexDlg::IdOk) << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("delete all, Return") << int(CIndexDlg::IdDeleteAll) << int(Qt::Key_Return)
                                            << int(Qt::NoModifier);
        QTest::newRow("cancel, Return") << int(CIndexDlg::IdCancel) << int(Qt::Key_Return) << int(Qt::NoModifier);
    }

    void enterNeverEndsTheDialog()
    {
        QFETCH(int, focused);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        ShownDialog shown(600, QStringLiteral("10 - - - -"));
        QVERIFY(QTest::qWaitForWindowActive(&shown.dialog));
        CIndexDlg& dialog = shown.dialog;
        dialog.slider(1)->setValue(20);
        QWidget* target = focused == CIndexDlg::IdFirstSlider ? static_cast<QWidget*>(dialog.slider(0))
                                                                : dialog.button(focused);
        target->setFocus();
        QVERIFY(target->hasFocus());

        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QVERIFY(dialog.isVisible());
        QCOMPARE(shown.finished.size(), 0);
        QCOMPARE(showMarks(dialog.m_marks), QStringLiteral("10 - - - -"));
        QCOMPARE(sliderValues(dialog), QList<int>({10, 20, 0, 0, 0}));
    }

    void escapeCancels()
    {
        ShownDialog shown(600, QStringLiteral("10 - - - -"));
        QVERIFY(QTest::qWaitForWindowActive(&shown.dialog));
        CIndexDlg& dialog = shown.dialog;
        dialog.slider(1)->setValue(20);
        dialog.slider(1)->setFocus();
        QTest::keyClick(dialog.slider(1), Qt::Key_Escape);
        QCOMPARE(shown.finished.size(), 1);
        QCOMPARE(shown.finished.at(0).at(0).toInt(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(showMarks(dialog.m_marks), QStringLiteral("10 - - - -"));
    }
};

TALVEN77_REGISTER_TEST(IndexDlgTest);

namespace {

struct Picture
{
    QString name;
    QSize size;
    std::function<QPixmap(qreal)> draw;
};

const QList<TransportButton> kButtons = {TransportButton::SkipBack,    TransportButton::FastBack,
                                         TransportButton::FastForward, TransportButton::SkipForward,
                                         TransportButton::Pause,       TransportButton::Stop,
                                         TransportButton::Play};
const QList<ButtonFace> kFaces = {ButtonFace::Up, ButtonFace::Down, ButtonFace::Focused, ButtonFace::Disabled};

QList<Picture> allPictures()
{
    using namespace PanelArtwork;
    QList<Picture> pictures;
    for (const TransportButton button : kButtons) {
        for (const ButtonFace face : kFaces) {
            pictures.append({QStringLiteral("button %1 face %2").arg(int(button)).arg(int(face)),
                             button == TransportButton::Play ? QSize(64, 32) : QSize(32, 32),
                             [=](qreal ratio) { return transportFace(button, face, ratio); }});
        }
    }
    for (int number = 0; number <= 5; ++number)
        pictures.append({QStringLiteral("flag %1").arg(number), QSize(12, 14),
                         [=](qreal ratio) { return indexFlag(number, ratio); }});
    pictures.append({QStringLiteral("cross"), QSize(12, 14), &crossMark});
    pictures.append({QStringLiteral("begin marker"), QSize(10, 13), &beginMarker});
    pictures.append({QStringLiteral("end marker"), QSize(10, 13), &endMarker});
    pictures.append({QStringLiteral("protect icon"), QSize(32, 32), &protectIcon});
    return pictures;
}

QImage imageOf(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The first pair of equal images, as "i = k", or empty when all differ.
QString firstEqualPair(const QList<QImage>& images)
{
    for (int i = 0; i < images.size(); ++i) {
        for (int k = i + 1; k < images.size(); ++k) {
            if (images[i] == images[k])
                return QStringLiteral("%1 = %2").arg(i).arg(k);
        }
    }
    return {};
}

} // namespace

class PanelArtworkTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void picturesHaveTheirSizeAtEveryRatio_data()
    {
        QTest::addColumn<int>("picture");
        QTest::addColumn<qreal>("ratio");
        const QList<Picture> pictures = allPictures();
        for (int i = 0; i < pictures.size(); ++i) {
            for (const qreal ratio : {1.0, 2.0})
                QTest::addRow("%s @%g", qPrintable(pictures[i].name), ratio) << i << ratio;
        }
    }

    void picturesHaveTheirSizeAtEveryRatio()
    {
        QFETCH(int, picture);
        QFETCH(qreal, ratio);
        const Picture expected = allPictures().at(picture);
        const QPixmap pixmap = expected.draw(ratio);
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.devicePixelRatio(), ratio);
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), expected.size);
        QCOMPARE(pixmap.size(), expected.size * ratio);
        // Something is drawn: not one colour all over.
        const QImage image = imageOf(pixmap);
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y) {
            for (int x = 0; x < image.width() && !drawn; ++x)
                drawn = image.pixel(x, y) != image.pixel(0, 0);
        }
        QVERIFY(drawn);
    }

    void picturesTellApart()
    {
        using namespace PanelArtwork;
        for (const TransportButton button : kButtons) {
            QList<QImage> faces;
            for (const ButtonFace face : kFaces)
                faces.append(imageOf(transportFace(button, face, 1)));
            QVERIFY2(firstEqualPair(faces).isEmpty(), qPrintable(firstEqualPair(faces)));
        }
        QList<QImage> symbols;
        for (const TransportButton button : kButtons)
            symbols.append(imageOf(transportFace(button, ButtonFace::Up, 1)));
        QVERIFY2(firstEqualPair(symbols).isEmpty(), qPrintable(firstEqualPair(symbols)));

        QList<QImage> flags;
        for (int number = 0; number <= 5; ++number)
            flags.append(imageOf(indexFlag(number, 1)));
        flags.append(imageOf(crossMark(1)));
        QVERIFY2(firstEqualPair(flags).isEmpty(), qPrintable(firstEqualPair(flags)));
    }

    void markersStandOnTheSectionEnds_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1") << 1.0;
        QTest::newRow("2") << 2.0;
    }

    void markersStandOnTheSectionEnds()
    {
        QFETCH(qreal, ratio);
        const QImage begin = imageOf(PanelArtwork::beginMarker(ratio));
        const QImage end = imageOf(PanelArtwork::endMarker(ratio));
        const int right = begin.width() - 1;
        for (int y = begin.height() / 2; y < begin.height(); ++y) {
            QCOMPARE(qAlpha(begin.pixel(right, y)), 255);
            QCOMPARE(qAlpha(end.pixel(0, y)), 255);
        }
        // The end marker is the begin marker's mirror image (colours aside).
        const QImage mirrored = begin.mirrored(true, false);
        for (int y = 0; y < begin.height(); ++y) {
            for (int x = 0; x < begin.width(); ++x) {
                QVERIFY2(qAbs(qAlpha(mirrored.pixel(x, y)) - qAlpha(end.pixel(x, y))) <= 8,
                         qPrintable(QStringLiteral("at %1, %2").arg(x).arg(y)));
            }
        }
        QVERIFY(begin.pixel(right, begin.height() - 2) != end.pixel(0, end.height() - 2));
    }

    void buttonShowsTheFaceOfItsState()
    {
        QWidget window;
        auto* stop = new PanelButton(TransportButton::Stop);
        auto* play = new PanelButton(TransportButton::Play);
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(stop);
        layout->addWidget(play);
        layout->activate(); // sizes the window before it exists, which the offscreen platform wants
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(play->sizeHint(), QSize(64, 32));
        QCOMPARE(stop->size(), QSize(32, 32));

        // The window shows through the face's rounded corners only.
        const auto showsFace = [stop](ButtonFace face) {
            const QImage shown = imageOf(stop->grab());
            const QImage drawn =
                imageOf(PanelArtwork::transportFace(TransportButton::Stop, face, stop->devicePixelRatioF()));
            if (stop->currentFace() != face || shown.size() != drawn.size())
                return false;
            for (int y = 0; y < drawn.height(); ++y) {
                for (int x = 0; x < drawn.width(); ++x) {
                    if (qAlpha(drawn.pixel(x, y)) == 255 && shown.pixel(x, y) != drawn.pixel(x, y))
                        return false;
                }
            }
            return true;
        };
        play->setFocus();
        QVERIFY(showsFace(ButtonFace::Up));
        stop->setFocus();
        QVERIFY(showsFace(ButtonFace::Focused));
        stop->setDown(true);
        QVERIFY(showsFace(ButtonFace::Down));
        stop->setEnabled(false);
        QVERIFY(showsFace(ButtonFace::Disabled));
        stop->setDown(false);
        stop->setEnabled(true);
        play->setFocus();
        QVERIFY(showsFace(ButtonFace::Up));

        // Tab reaches it and Space presses it.
        QSignalSpy clicks(stop, &QAbstractButton::clicked);
        QTest::keyClick(play, Qt::Key_Tab);
        QVERIFY(stop->hasFocus());
        QTest::keyClick(stop, Qt::Key_Space);
        QCOMPARE(clicks.size(), 1);
    }
};

TALVEN77_REGISTER_TEST(PanelArtworkTest);
#include "IndexDlgTest.moc"
