// The profile through the desktop's own calls: a file of the WIN.INI form
// named by the caller, and the user's WIN.INI itself.
#include <QtTest>

#include <optional>
#include <string>

#include "platform/win/WinApi.h"
#include "platform/win/WinIniProfileStore.h"
#include "support/TestText.h"

using dervix::test::Bytes;
using dervix::test::Q;

namespace {

// A section of this test's own in the user's WIN.INI, removed again.
const char* const kOwnSection = "DervixTest-WinProfile";

void Row(const char* name, const char* store, const QByteArray& before, bool readOnly, const QByteArray& key,
         const QByteArray& value, bool written, const QByteArray& readKey, const QByteArray& read) {
    QTest::newRow(name) << QString(store) << before << readOnly << key << value << written << readKey << read;
}

}  // namespace

class TestWinProfile : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { ::WriteProfileStringA(kOwnSection, nullptr, nullptr); }
    void readWrite_data();
    void readWrite();
};

void TestWinProfile::readWrite_data() {
    // "file"; "relative": its name only; "accented": in a folder named beyond ASCII; "winini"
    QTest::addColumn<QString>("store");
    QTest::addColumn<QByteArray>("before");  // the file's text first; null: no file
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QByteArray>("key");  // written first; empty: nothing written
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("readKey");  // read back with the section name in capitals
    QTest::addColumn<QByteArray>("read");     // "=value" or "<absent>"
    const QByteArray none, ab("[Other]\r\nkeep=me\r\n[Dervix]\r\nA=1\r\n");
    const QByteArray quoted255 = '"' + QByteArray(253, 'q') + '"';
    Row("key in another case", "file", none, false, "SplitCode", "7", true, "Splitcode", "=7");
    Row("relative path: the working folder's", "relative", none, false, "CommPort", "2", true, "COMMPORT", "=2");
    Row("folder name beyond ASCII", "accented", none, false, "A", "1", true, "A", "=1");
    Row("absent key", "file", ab, false, "", "", true, "B", "<absent>");
    Row("absent file", "file", none, false, "", "", true, "A", "<absent>");
    Row("empty value is present", "file", ab, false, "Running", "", true, "Running", "=");
    Row("value like the absent mark", "file", none, false, "A", "\x01<absent>", true, "A", "=\x01<absent>");
    Row("CR, LF and NUL as blanks", "file", none, false, "A", QByteArray("1\r\nB=2\0x", 8), true, "A", "=1  B=2 x");
    Row("quotes kept", "file", none, false, "A", "\"x\"", true, "A", "=\"x\"");
    Row("long quoted value", "file", none, false, "A", quoted255, true, "A", "=" + quoted255);
    Row("read-only file, new value", "file", ab, true, "A", "2", false, "A", "=1");
    Row("read-only file, value it holds", "file", ab, true, "A", "1", false, "A", "=1");
    Row("WIN.INI", "winini", none, false, "Key", "v1", true, "KEY", "=v1");
    Row("WIN.INI, absent section", "winini", none, false, "", "", true, "Key", "<absent>");
}

void TestWinProfile::readWrite() {
    QFETCH(QString, store);
    QFETCH(QByteArray, before);
    QFETCH(bool, readOnly);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(bool, written);
    QFETCH(QByteArray, readKey);
    QFETCH(QByteArray, read);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = store == "accented" ? dir.filePath(QString::fromUtf8("D\u00e9rvix")) : dir.path();
    QVERIFY(QDir().mkpath(folder));
    const QString path = QDir::toNativeSeparators(folder + "/profile.ini");
    const std::wstring widePath = path.toStdWString();
    if (!before.isNull()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
    }
    if (readOnly) QVERIFY(::SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_READONLY));
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    std::optional<dervix::WinIniProfileStore> profile;
    if (store == "file" || store == "accented") profile.emplace(path.toStdString());
    if (store == "relative") profile.emplace("profile.ini");
    if (store == "winini") profile.emplace();
    QVERIFY(QDir::setCurrent(working));

    const std::string section = store == "winini" ? kOwnSection : "Dervix";
    if (!key.isEmpty()) QCOMPARE(profile->write(section, Bytes(key), Bytes(value)), written);
    const std::optional<std::string> got = profile->read(Q(section).toUpper().toStdString(), Bytes(readKey));
    QCOMPARE(got ? "=" + Q(*got) : QByteArray("<absent>"), read);
    if (store != "winini") {
        QCOMPARE(QString::fromStdString(profile->path()), path);
        if (written && !key.isEmpty()) QVERIFY(QFileInfo::exists(path));
    }
    if (readOnly) {
        QVERIFY(::SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_NORMAL));
        QCOMPARE(dervix::test::FileBytes(path), before);
    }
}

QTEST_APPLESS_MAIN(TestWinProfile)
#include "tst_winprofile.moc"
