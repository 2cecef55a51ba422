// The window's chooser takes folders as well as files: a folder stands for its photos in natural
// order, as on swelox-cli's command line.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/FileChooser.h"
#include "toolkit/QtFixture.h"

using swelox::test::ScriptedFileDialog;

namespace {

class FileChooserTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir temp_;

  QString Put(const QString& name, const QByteArray& bytes) {
    const QString path = temp_.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
      qFatal("cannot write");
    return path;
  }

 private slots:
  void aFolderStandsForItsPhotos() {
    const QByteArray jpeg("\xFF\xD8\xFF\xE0", 4);
    const QString img10 = Put("day/IMG_10.jpg", jpeg);
    const QString img9 = Put("day/IMG_9.jpg", jpeg);
    Put("day/notes.txt", "notes");
    Put("day/sub/IMG_1.jpg", jpeg);  // a subfolder's photos are not taken
    const QString loose = Put("loose.jpg", jpeg);

    ScriptedFileDialog::Log log;
    swelox::ui::FileChooser chooser(
        nullptr, std::make_unique<ScriptedFileDialog>(
                     log, std::deque<std::optional<QStringList>>{
                              QStringList{temp_.filePath("day"), loose},
                              QStringList{temp_.filePath("day/sub")},
                              QStringList{Put("empty/readme.txt", "x").section('/', 0, -2)}}));
    QVERIFY(chooser.ChooseFiles());
    QCOMPARE(chooser.ChosenFiles(), (QStringList{img9, img10, loose}));
    QCOMPARE(chooser.Prefill(), temp_.filePath("day"));
    QVERIFY(chooser.ChooseFiles());
    QCOMPARE(chooser.ChosenFiles(), QStringList{temp_.filePath("day/sub/IMG_1.jpg")});
    // A folder without photos is no choice: nothing to start.
    QVERIFY(!chooser.ChooseFiles());
    QVERIFY(chooser.ChosenFiles().isEmpty());
  }
};

}  // namespace

QTEST_MAIN(FileChooserTest)
#include "FileChooserTest.moc"
