#include "transport/TransportSettings.h"
#include "MessageRecorder.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "transport/PlaybackRate.h"
#include "transport/TransportSettingsDlg.h"

#include <QComboBox>
#include <QKeySequenceEdit>
#include <QSpinBox>
#include <QTest>

class TransportSettingsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { OpenProgramSettings()->clear(); }

    // Stored in a section of their own; the seed's values keep their names and values.
    void storedInASectionOfTheirOwn()
    {
        OpenProgramSettings()->setValue(QStringLiteral("Settings/SaveFolder"),
                                        QStringLiteral("/x"));
        const TransportSettings defaults = TransportSettings::Load();
        QCOMPARE(defaults.backSkipSeconds, 3);
        QCOMPARE(defaults.forwardSkipSeconds, 3);
        QCOMPARE(defaults.rewindOnResumeSeconds, 2);
        QCOMPARE(defaults.replaySeconds, 5);
        QCOMPARE(defaults.speedStep, 0.1);
        QCOMPARE(defaults.key(TransportAction::PlayPause), QStringLiteral("Space"));
        QCOMPARE(defaults.pedals[1], TransportAction::PlayWhileHeld);

        TransportSettings changed = defaults;
        changed.backSkipSeconds = 60;
        changed.forwardSkipSeconds = 1;
        changed.rewindOnResumeSeconds = 0;
        changed.replaySeconds = 30;
        changed.speedStep = 0.05;
        changed.keys[size_t(TransportAction::Stop)].clear();
        changed.pedals = {TransportAction::Replay, TransportAction::None,
                          TransportAction::NextIndex};
        QVERIFY(changed.Save());
        const TransportSettings loaded = TransportSettings::Load();
        QCOMPARE(loaded.backSkipSeconds, 60);
        QCOMPARE(loaded.forwardSkipSeconds, 1);
        QCOMPARE(loaded.rewindOnResumeSeconds, 0);
        QCOMPARE(loaded.replaySeconds, 30);
        QCOMPARE(loaded.speedStep, 0.05);
        QVERIFY(loaded.key(TransportAction::Stop).isEmpty());
        QCOMPARE(loaded.pedals, changed.pedals);
        const auto settings = OpenProgramSettings();
        QCOMPARE(settings->childGroups(), (QStringList{"Settings", "Transport"}));
        QCOMPARE(settings->value(QStringLiteral("Settings/SaveFolder")).toString(),
                 QStringLiteral("/x"));
    }

    // Values edited by hand outside their range fall back to the default, one at a time.
    void unreadableValuesFallBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("back skip 0") << "BackSkip"
                                     << "0";
        QTest::newRow("forward skip 61") << "ForwardSkip"
                                         << "61";
        QTest::newRow("rewind 11") << "RewindOnResume"
                                   << "11";
        QTest::newRow("rewind -1") << "RewindOnResume"
                                   << "-1";
        QTest::newRow("replay text") << "ReplayLength"
                                     << "five";
        QTest::newRow("step 7") << "SpeedStep"
                                << "7";
        QTest::newRow("pedal no action") << "LeftPedal"
                                         << "Rocket";
        QTest::newRow("a key twice") << "Keys/Stop"
                                     << "space";
    }

    void unreadableValuesFallBack()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        OpenProgramSettings()->setValue(QStringLiteral("Transport/") + name, value);
        const TransportSettings loaded = TransportSettings::Load();
        const TransportSettings defaults;
        QCOMPARE(loaded.backSkipSeconds, defaults.backSkipSeconds);
        QCOMPARE(loaded.forwardSkipSeconds, defaults.forwardSkipSeconds);
        QCOMPARE(loaded.rewindOnResumeSeconds, defaults.rewindOnResumeSeconds);
        QCOMPARE(loaded.replaySeconds, defaults.replaySeconds);
        QCOMPARE(loaded.speedStep, defaults.speedStep);
        QCOMPARE(loaded.pedals, defaults.pedals);
        QCOMPARE(loaded.key(TransportAction::PlayPause), QStringLiteral("Space"));
        // One key never does two things: the later action loses it.
        QVERIFY(loaded.key(TransportAction::Stop) != QStringLiteral("space"));
    }

    void rateSteps_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("step");
        QTest::addColumn<int>("direction");
        QTest::addColumn<double>("expected");
        QTest::newRow("up") << 1.0 << 0.1 << 1 << 1.1;
        QTest::newRow("down") << 1.0 << 0.05 << -1 << 0.95;
        QTest::newRow("at the top") << 2.0 << 0.1 << 1 << 2.0;
        QTest::newRow("at the bottom") << 0.5 << 0.05 << -1 << 0.5;
        QTest::newRow("to the top") << 1.95 << 0.1 << 1 << 2.0;
        QTest::newRow("to the bottom") << 0.55 << 0.1 << -1 << 0.5;
        QTest::newRow("off the grid up") << 0.75 << 0.1 << 1 << 0.8;
        QTest::newRow("off the grid down") << 0.75 << 0.1 << -1 << 0.7;
        QTest::newRow("tenths add up") << 0.7 << 0.1 << 1 << 0.8;
        QTest::newRow("beyond the range") << 3.0 << 0.1 << -1 << 1.9;
    }

    void rateSteps()
    {
        QFETCH(double, rate);
        QFETCH(double, step);
        QFETCH(int, direction);
        QFETCH(double, expected);
        QCOMPARE(StepPlaybackRate(rate, step, direction), expected);
    }

    void keyConflicts_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("holder"); // empty: free
        QTest::newRow("its own key") << int(TransportAction::PlayPause) << "Space"
                                     << "";
        QTest::newRow("another action's") << int(TransportAction::Stop) << "space"
                                          << "再生/一時停止";
        QTest::newRow("a window command's") << int(TransportAction::Replay) << "F3"
                                            << "次を検索";
        QTest::newRow("free") << int(TransportAction::Replay) << "F9"
                              << "";
        QTest::newRow("none") << int(TransportAction::Replay) << ""
                              << "";
    }

    void keyConflicts()
    {
        QFETCH(int, action);
        QFETCH(QString, key);
        QFETCH(QString, holder);
        const QString message =
            TransportKeyConflict(TransportSettings(), TransportAction(action), key,
                                 {{QStringLiteral("次を検索"), QStringLiteral("F3")}});
        if (holder.isEmpty())
            QVERIFY2(message.isEmpty(), qPrintable(message));
        else
            QCOMPARE(message, QStringLiteral(
                                  "キー「%1」は「%2」に使われています。別のキーを選んでください。")
                                  .arg(key, holder));
    }

    // The dialog refuses a conflict with a message and stays open; fixed, it gives its values.
    void dialogRefusesAConflict()
    {
        MessageRecorder messages;
        TransportSettingsDlg dialog(TransportSettings(),
                                    {{QStringLiteral("更新"), QStringLiteral("F5")}});
        dialog.keyEdit(TransportAction::Replay)->setKeySequence(QKeySequence(Qt::Key_F5));
        dialog.rewind()->setValue(7);
        dialog.open();
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QCOMPARE(messages.entries().size(), 1);
        QVERIFY(messages.entries()[0].text.contains(QStringLiteral("「更新」")));
        dialog.keyEdit(TransportAction::Replay)->setKeySequence(QKeySequence(Qt::Key_F4));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QVERIFY(messages.entries()[1].text.contains(QStringLiteral("「停止」")));
        dialog.keyEdit(TransportAction::Stop)->clear();
        dialog.pedal(0)->setCurrentIndex(1);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const TransportSettings chosen = dialog.settings();
        QCOMPARE(chosen.key(TransportAction::Replay), QStringLiteral("F4"));
        QVERIFY(chosen.key(TransportAction::Stop).isEmpty());
        QCOMPARE(chosen.rewindOnResumeSeconds, 7);
        QCOMPARE(chosen.pedals[0], TransportAction::PlayWhileHeld);
        QCOMPARE(dialog.rewind()->maximum(), 10);
        QCOMPARE(dialog.backSkip()->maximum(), 60);
    }

    // A key given to a command is refused in the name of the command that has it, whichever
    // of the two comes first in the list; the edited key keeps the focus.
    void conflictNamesTheCommandThatHasTheKey_data()
    {
        QTest::addColumn<int>("edited");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("holder");
        QTest::newRow("forward given replay's key")
            << int(TransportAction::StepForward) << "Ctrl+R" << "直前を再生";
        QTest::newRow("replay given forward's key")
            << int(TransportAction::Replay) << "Ctrl+Right" << "進む";
        QTest::newRow("play given normal speed's key")
            << int(TransportAction::PlayPause) << "Ctrl+0" << "標準の速さ";
        QTest::newRow("normal speed given play's key")
            << int(TransportAction::NormalSpeed) << "Space" << "再生/一時停止";
    }

    void conflictNamesTheCommandThatHasTheKey()
    {
        QFETCH(int, edited);
        QFETCH(QString, key);
        QFETCH(QString, holder);
        MessageRecorder messages;
        TransportSettingsDlg dialog(TransportSettings(), {});
        QKeySequenceEdit* edit = dialog.keyEdit(TransportAction(edited));
        edit->setKeySequence(QKeySequence(key, QKeySequence::PortableText));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("キー「%1」は「%2」に使われています。別のキーを選んでください。")
                     .arg(key, holder));
        QVERIFY(edit == dialog.focusWidget() || edit->isAncestorOf(dialog.focusWidget()));

        // The settings on their own: the holder is named whichever of the two is asked about.
        TransportSettings both;
        both.keys[size_t(edited)] = key;
        QCOMPARE(TransportKeyConflict(both, TransportAction(edited), key),
                 messages.entries()[0].text);
    }
};

TALVEN77_REGISTER_TEST(TransportSettingsTest);

#include "TransportSettingsTest.moc"
