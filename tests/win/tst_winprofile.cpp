// The profile through the desktop's own calls: a file of the WIN.INI form
// named by the caller, and the user's WIN.INI itself; and where a Windows
// user's settings live, with what is taken over there.
#include <QtTest>

#include <optional>
#include <string>

#include "platform/win/WinApi.h"
#include "platform/win/WinIniProfileStore.h"
#include "platform/win/WinProfilePlace.h"
#include "platform/SystemNames.h"
#include "support/TestText.h"

using dervix::test::Bytes;
using dervix::test::Q;

namespace {

// A section of this test's own in the user's WIN.INI, removed again. Mapped
// to the user's registry as the installer maps [Dervix]: a WIN.INI that this
// user may not write (as for a lab's operator) takes it all the same.
const char* const kOwnSection = "DervixTest-WinProfile";
const wchar_t* const kMappingKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\win.ini";

// A store's [Dervix] as "key=value" in the store's order.
QByteArray SectionOf(dervix::WinIniProfileStore& store) {
    QByteArrayList keys;
    for (const std::string& key : store.keys("Dervix")) keys << Q(key + "=" + store.read("Dervix", key).value_or("?"));
    return keys.join(' ');
}

void Row(const char* name, const char* store, const QByteArray& before, bool readOnly, const QByteArray& key,
         const QByteArray& value, bool written, const QByteArray& readKey, const QByteArray& read) {
    QTest::newRow(name) << QString(store) << before << readOnly << key << value << written << readKey << read;
}

}  // namespace

class TestWinProfile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        const std::wstring section = QString(kOwnSection).toStdWString();
        const std::wstring target = L"USR:Software\\" + section;
        mapped_ = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMappingKey, section.c_str(), REG_SZ, target.c_str(),
                                    static_cast<DWORD>((target.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    void cleanupTestCase() {
        const std::wstring section = QString(kOwnSection).toStdWString();
        ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMappingKey, section.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\" + section).c_str());
    }
    void cleanup() { ::WriteProfileStringA(kOwnSection, nullptr, nullptr); }
    void readWrite_data();
    void readWrite();
    void place_data();
    void place();
    void shortFolderPath_data();
    void shortFolderPath();

private:
    bool mapped_ = false;
};

void TestWinProfile::readWrite_data() {
    // "file"; "relative": its name only; "accented", "cyrillic": in a folder so named; "winini"
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
    Row("folder name beyond the ANSI code page", "cyrillic", none, false, "A", "1", true, "A", "=1");
    Row("Latin-1 value", "file", none, false, "AppPath", "C:\\D\xe9rvix", true, "AppPath", "=C:\\D\xe9rvix");
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
    Row("WIN.INI, Latin-1 value", "winini", none, false, "Key", "\xe9t\xe9", true, "Key", "=\xe9t\xe9");
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
    if (store == "winini" && !mapped_) QSKIP("WIN.INI's section for this test cannot be mapped here");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The second is beyond the ANSI code page of a Western system.
    const char* const name = store == "accented" ? "D\u00e9rvix" : "\u0414\u0435\u0440\u0432\u0438\u043a\u0441";
    const bool named = store == "accented" || store == "cyrillic";
    const QString folder = named ? dir.filePath(QString::fromUtf8(name)) : dir.path();
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
    if (store == "file" || store == "accented" || store == "cyrillic") profile.emplace(path.toStdString());
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

void TestWinProfile::place_data() {
    QTest::addColumn<QString>("facts");  // of "explicit", "mapped", "writable", "own" (the own file is there)
    QTest::addColumn<QString>("store");  // "winini", "own" or "explicit"
    QTest::addColumn<bool>("tell");
    QTest::addColumn<QByteArray>("before");        // the store's text; a stand-in file plays WIN.INI
    QTest::addColumn<QByteArray>("virtualStore");  // the user's copy of WIN.INI; null: none
    QTest::addColumn<QByteArray>("winIni");        // WIN.INI's text; null: none
    QTest::addColumn<QByteArray>("after");         // the store's [Dervix]
    QTest::addColumn<QString>("from");             // "own", "copy", "winini" or empty: what the log names
    QTest::addColumn<QString>("passed");           // "copy", "winini" or empty: what the log says was too large
    const QByteArray none, earlier("[windows]\r\n[Dervix]\r\nSplitcode=7\r\nRotations=1000\r\n");
    const QByteArray copy("[Dervix]\r\nSplitcode=9\r\nRotations=2000\r\n");
    // A section first and megabytes after it: no cut of it is taken for a profile.
    const QByteArray padding = QByteArray(";").repeated(64) + "\r\n";
    const QByteArray hugeCopy = copy + padding.repeated((4 << 20) / padding.size() + 1);
    const QByteArray hugeWinIni = earlier + padding.repeated((4 << 20) / padding.size() + 1);
    const QString unicode = QString::fromUtf8("[Dervix]\r\nAppPath=C:\\D\u00e9rvix\r\n");
    const QByteArray utf16 = QByteArray("\xff\xfe", 2) + QByteArray(reinterpret_cast<const char*>(unicode.utf16()),
                                                                      unicode.size() * 2);
    QTest::newRow("zip on a locked PC: the own file, WIN.INI's taken over, told")
        << "" << "own" << true << none << none << earlier << QByteArray("Splitcode=7 Rotations=1000") << "winini"
        << "";
    QTest::newRow("zip again: the own file as it is")
        << "own" << "own" << false << QByteArray("[Dervix]\r\nCommPort=2\r\n") << none << earlier
        << QByteArray("CommPort=2") << "" << "";
    QTest::newRow("installed: the VirtualStore copy before WIN.INI")
        << "mapped" << "winini" << false << none << copy << earlier << QByteArray("Splitcode=9 Rotations=2000")
        << "copy" << "";
    QTest::newRow("installed: a copy without [Dervix], WIN.INI's as a lookup reads it")
        << "mapped" << "winini" << false << none << QByteArray("[windows]\r\nload=\r\n")
        << QByteArray("[DERVIX]\n Splitcode = 7 \nsplitcode=8\nModuleID=\"3\"\n")
        << QByteArray("Splitcode=7 ModuleID=3") << "winini" << "";
    QTest::newRow("installed after the zip: the zip's own file first")
        << "mapped own" << "winini" << false << none << copy << earlier << QByteArray("CommPort=3") << "own" << "";
    QTest::newRow("installed: the user's own section kept")
        << "mapped" << "winini" << false << QByteArray("[dervix]\r\nRotations=5\r\n") << copy << earlier
        << QByteArray("Rotations=5") << "" << "";
    QTest::newRow("installed: WIN.INI in UTF-16, read as the logic's text")
        << "mapped writable" << "winini" << false << none << none << utf16 << QByteArray("AppPath=C:\\D\xe9rvix")
        << "winini" << "";
    QTest::newRow("elevated, not installed: WIN.INI itself, only the copy taken over")
        << "writable" << "winini" << false << none << none << earlier << QByteArray("") << "" << "";
    QTest::newRow("DERVIX_PROFILE: that file alone") << "explicit" << "explicit" << false << none << copy << earlier
                                                     << QByteArray("") << "" << "";
    QTest::newRow("installed: a copy of megabytes passed over, WIN.INI's taken over")
        << "mapped" << "winini" << false << none << hugeCopy << earlier << QByteArray("Splitcode=7 Rotations=1000")
        << "winini" << "copy";
    QTest::newRow("zip: a WIN.INI of megabytes, nothing taken over")
        << "" << "own" << true << none << none << hugeWinIni << QByteArray("") << "" << "winini";
}

void TestWinProfile::place() {
    QFETCH(QString, facts);
    QFETCH(QString, store);
    QFETCH(bool, tell);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, virtualStore);
    QFETCH(QByteArray, winIni);
    QFETCH(QByteArray, after);
    QFETCH(QString, from);
    QFETCH(QString, passed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto native = [&](const QString& name) { return QDir::toNativeSeparators(dir.filePath(name)); };
    dervix::WinProfileFacts given;
    given.explicitFile = facts.contains("explicit") ? native("mine.ini").toStdString() : std::string();
    given.mapped = facts.contains("mapped");
    given.winIniWritable = facts.contains("writable");
    given.ownFileExists = facts.contains("own");
    given.windowsFolder = native("windows").toStdString();
    given.localAppData = native("local").toStdString();
    given.appData = native("roaming").toStdString();
    const dervix::WinProfilePlace place = ChooseWinProfilePlace(given);

    // The user's copy mirrors WIN.INI's own path, its drive left out.
    const QString copyPath = native("local") + "\\VirtualStore" + native("windows").mid(2) + "\\win.ini";
    const QString winIniPath = native("windows") + "\\win.ini";
    const QString expectedFile = store == "own"        ? native("roaming") + "\\Dervix\\profile.ini"
                                 : store == "explicit" ? native("mine.ini")
                                                       : QString();
    QCOMPARE(QString::fromStdString(place.file), expectedFile);
    QCOMPARE(place.tell, tell);

    const QString storePath = store == "winini" ? native("standin.ini") : expectedFile;
    // Where the zip kept them, when it did and Dervix is now installed.
    const QString ownPath = native("roaming") + "\\Dervix\\profile.ini";
    const QByteArray own = store == "winini" && facts.contains("own") ? "[Dervix]\r\nCommPort=3\r\n" : QByteArray();
    for (const auto& [path, text] :
         {std::pair{storePath, before}, {copyPath, virtualStore}, {winIniPath, winIni}, {ownPath, own}}) {
        if (text.isNull()) continue;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    }
    dervix::WinIniProfileStore profile(storePath.toStdString());
    const std::string note = TakeOverProfile(profile, place.earlier);
    QCOMPARE(SectionOf(profile), after);
    const QString named = from == "copy"     ? copyPath
                          : from == "winini" ? winIniPath
                          : from == "own"    ? ownPath
                                             : QString();
    const QString tooLarge = passed == "copy" ? copyPath : passed == "winini" ? winIniPath : QString();
    QVERIFY2(note.empty() == (named.isEmpty() && tooLarge.isEmpty()), note.c_str());
    if (!named.isEmpty())
        QVERIFY2(QString::fromStdString(note).endsWith("taken over from " + named), note.c_str());
    if (!tooLarge.isEmpty())
        QVERIFY2(QString::fromStdString(note).contains("nothing taken over from " + tooLarge + ", larger than 4 MiB"),
                 note.c_str());
    // Only read: the earlier program's files are left as they were.
    if (!virtualStore.isNull()) QCOMPARE(dervix::test::FileBytes(copyPath), virtualStore);
    if (!winIni.isNull()) QCOMPARE(dervix::test::FileBytes(winIniPath), winIni);
}

// AppPath: the program folder's short form, always with "\" between its
// parts, as an earlier program wrote it and others read it.
void TestWinProfile::shortFolderPath_data() {
    QTest::addColumn<QString>("path");      // made under a folder of this test's own when expected is empty
    QTest::addColumn<QString>("expected");  // empty: the existing folder's short form
    QTest::newRow("existing, written with /") << "Dervix Program Folder/bin" << "";
    QTest::newRow("not there: as it is, with \\")
        << "C:/No Such Dervix Folder/bin" << "C:\\No Such Dervix Folder\\bin";
    QTest::newRow("not there, both separators")
        << "C:\\No Such Dervix Folder/bin/" << "C:\\No Such Dervix Folder\\bin\\";
}

void TestWinProfile::shortFolderPath() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const bool existing = expected.isEmpty();
    if (existing) {
        QVERIFY(QDir().mkpath(dir.filePath(path)));
        path = dir.filePath(path);  // with "/", as Qt gives it
    }
    const QString got = QString::fromStdString(dervix::ShortFolderPath(path.toStdString()));
    QVERIFY2(!got.contains('/'), qPrintable(got));
    if (!existing) {
        QCOMPARE(got, expected);
        return;
    }
    // The folder's own short form: long names cut to 8.3, the same folder.
    QVERIFY2(!got.contains(' '), qPrintable(got));
    wchar_t longForm[MAX_PATH] = {};
    QVERIFY(::GetLongPathNameW(got.toStdWString().c_str(), longForm, MAX_PATH) > 0);
    QCOMPARE(QString::fromWCharArray(longForm).toLower(), QDir::toNativeSeparators(path).toLower());
}

QTEST_APPLESS_MAIN(TestWinProfile)
#include "tst_winprofile.moc"
