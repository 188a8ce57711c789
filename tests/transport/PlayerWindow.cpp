#include "PlayerWindow.h"

#include "CardBuilder.h"
#include "Mp3Encoder.h"
#include "TestFiles.h"
#include "document/FolderTree.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QTest>
#include <QTreeWidget>

PlayerWindow::PlayerWindow(SimulatedPlaces& places, const QList<uint32_t>& marks,
                           const QByteArray& firstAudio)
    : panel(std::make_unique<CPanelDlg>([this] {
          auto made = std::make_unique<VirtualAudioOutput>();
          output = made.get();
          return made;
      }))
{
    const QString save = places.newFolder(QStringLiteral("save"));
    folder = save + QStringLiteral("/day/");
    QDir().mkpath(folder);
    const QStringList names{"a.mp3", "b.mp3", "c.mp3"};
    for (int i = 0; i < names.size(); ++i) {
        const tagVoiceHeader header =
            MakeVoiceHeader(0, QStringLiteral("メモ%1").arg(i), i == 0 ? marks : QList<uint32_t>{});
        const QByteArray audio = i == 0 && !firstAudio.isEmpty() ? firstAudio : MinuteOfRecorderAudio();
        if (!WriteFileBytes(folder + names[i], BuildRecording(header, audio)))
            qFatal("cannot write a recording");
    }
    setting.Load();
    document.RunStartupChecks(save);
    view = std::make_unique<CTALVEN77PCView>(document, setting);
    view->setPanel(panel.get());
    view->OnInitialUpdate();
    view->folderTree()->setCurrentItem(view->rootLabelled(kSaveRootLabel)->child(0));
    view->resize(1000, 600);
    view->show();
    if (!QTest::qWaitForWindowActive(view.get()))
        qWarning("the window did not become active");
}

PlayerWindow::~PlayerWindow()
{
    view->setPanel(nullptr);
}

void PlayerWindow::playAt(uint32_t second, bool pause)
{
    panel->OnPlay();
    engine().SetPosition(second);
    panel->session().OnTimer();
    if (pause)
        panel->session().OnPause();
}

void PlayerWindow::play(double seconds)
{
    for (double done = 0; done < seconds; done += 0.25) {
        if (output)
            output->advance(0.25);
        QCoreApplication::processEvents();
        panel->session().OnTimer();
    }
}

void PlayerWindow::press(const QString& portableKey)
{
    const QKeyCombination key = QKeySequence(portableKey, QKeySequence::PortableText)[0];
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : view.get();
    QTest::keyClick(target, key.key(), key.keyboardModifiers());
}

CMainList* PlayerWindow::enterOnRow(int row)
{
    CMainList* list = view->recordingList();
    list->setFocus();
    list->selectionModel()->setCurrentIndex(view->recordings()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(list, Qt::Key_Return);
    return list;
}
