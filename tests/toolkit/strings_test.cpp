// String conversions and the string list.
#include "toolkit/classes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::string S(const UnicodeString& U) { return UnicodeToUtf8(U); }

TEST(Strings, Utf8RoundTripIncludingSurrogatePairs)
{
    const std::string Text = "Grüße, 10 µs, € and 𝄞";
    UnicodeString U = Utf8ToUnicode(Text);
    EXPECT_EQ(U.size(), 22u);  // the clef is a surrogate pair
    EXPECT_EQ(UnicodeToUtf8(U), Text);
    // Malformed input becomes U+FFFD instead of being dropped or overread.
    EXPECT_EQ(Utf8ToUnicode("a\xC3"), u"a\xFFFD");
    EXPECT_EQ(Utf8ToUnicode("\xC0\xAF"), u"\xFFFD\xFFFD");  // overlong "/"
    EXPECT_EQ(Utf8ToUnicode("\xED\xA0\x80x"), u"\xFFFDx");  // encoded surrogate
    EXPECT_EQ(UnicodeToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // lone surrogate
}

TEST(Strings, Windows1252MapsItsCharactersAndReplacesTheRest)
{
    EXPECT_EQ(UnicodeToAnsi(u"Grüße €5 – „x“"),
              "Gr\xFC\xDF"
              "e \x80"
              "5 \x96 \x84x\x93");
    EXPECT_EQ(UnicodeToAnsi(u"Ω ā 𝄞"), "? ? ?");  // not in 1252; a pair is one "?"
    std::string All;
    for (int B = 0; B < 256; ++B) All += static_cast<char>(B);
    EXPECT_EQ(UnicodeToAnsi(AnsiToUnicode(All)), All);  // every byte survives
    EXPECT_EQ(AnsiToUnicode("\x80\x9F\xFF"), u"€Ÿÿ");
}

TEST(Strings, TrimCaseAndCompare)
{
    EXPECT_EQ(Trim(u" \t COM3:\r\n"), u"COM3:");
    EXPECT_EQ(Trim(u"   "), u"");
    EXPECT_EQ(TrimLeft(u"  a "), u"a ");
    EXPECT_EQ(TrimRight(u"  a "), u"  a");
    EXPECT_EQ(UpperCase(u"com3 ä"), u"COM3 ä");
    EXPECT_EQ(AnsiUpperCase(u"com3 ä"), u"COM3 Ä");
    EXPECT_TRUE(SameText(u"Ärger", u"äRGER"));
    EXPECT_LT(CompareText(u"com1", u"COM2"), 0);
    EXPECT_GT(CompareText(u"com10", u"COM1"), 0);
    EXPECT_EQ(Pos(u"=", u"COM1=x=y"), 5);
    EXPECT_EQ(Pos(u"?", u"abc"), 0);
}

TEST(Strings, PWCharPassesTheBufferAndBack)
{
    UnicodeString U = u"\\\\.\\COM12";
    const TWinChar* P = PWChar(U);
    EXPECT_EQ(static_cast<char16_t>(P[4]), u'C');
    EXPECT_EQ(P[U.size()], 0);
    EXPECT_EQ(StrFromPWChar(P), U);
    EXPECT_EQ(StrFromPWChar(nullptr), u"");
}

TEST(StringList, IndexingAndTheRuntimesIndexError)
{
    TStringList L;
    L.Add(u"one");
    L.Add(u"two");
    EXPECT_EQ(L[1], u"two");
    try {
        L.Strings(2);
        FAIL() << "no error";
    } catch (const EListError& E) {
        EXPECT_EQ(S(E.Message()), "Listenindex überschreitet das Maximum (2)");
    }
    EXPECT_THROW(L.Strings(-1), EStringListError);
    EXPECT_THROW(L.Delete(2), EListError);
    EXPECT_THROW(L.Insert(3, u"x"), EListError);
    TStringList Empty;
    try {
        Empty.Strings(0);
        FAIL() << "no error";
    } catch (const EListError& E) {
        EXPECT_EQ(S(E.Message()), "Listenindex überschreitet das Maximum (0)");
    }
}

TEST(StringList, InsertDeleteAndObjectSlots)
{
    TStringList L;
    TObject A, B;
    L.AddObject(u"a", &A);
    L.AddInteger(u"c", 4097);
    L.InsertObject(1, u"b", &B);
    L.Insert(3, u"d");  // at Count: appends
    ASSERT_EQ(L.Count(), 4);
    EXPECT_EQ(S(L.Text()), "a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(L.Objects(1), &B);
    EXPECT_EQ(L.Integers(2), 4097);
    EXPECT_EQ(L.IndexOfObject(&B), 1);
    L.Delete(0);
    EXPECT_EQ(L[0], u"b");
    EXPECT_EQ(L.Objects(0), &B);
    EXPECT_EQ(L.IndexOfObject(&A), -1);
    L.Move(0, 2);  // the object slot moves with its text
    EXPECT_EQ(S(L.Text()), "c\r\nd\r\nb\r\n");
    EXPECT_EQ(L.Objects(2), &B);
    EXPECT_EQ(L.Integers(0), 4097);
}

TEST(StringList, LookupByTextAndNameIsCaseInsensitive)
{
    TStringList L;
    L.Add(u"COM1");
    L.Add(u"COM3=\\Device\\Serial0");
    L.Add(u"com4=a=b");
    L.Add(u"=nameless");
    EXPECT_EQ(L.IndexOf(u"com1"), 0);
    EXPECT_EQ(L.IndexOf(u"COM3"), -1);  // whole text only
    EXPECT_EQ(L.IndexOfName(u"com3"), 1);
    EXPECT_EQ(L.IndexOfName(u"COM1"), -1);  // bare entries have no name
    EXPECT_EQ(L.Names(2), u"com4");
    EXPECT_EQ(L.ValueFromIndex(2), u"a=b");
    EXPECT_EQ(L.Values(u"COM4"), u"a=b");
    EXPECT_EQ(L.Values(u"COM9"), u"");
    EXPECT_EQ(L.Names(0), u"");
    L.SetValues(u"COM9", u"x");
    EXPECT_EQ(L[4], u"COM9=x");
    L.SetValues(u"com3", u"y");
    EXPECT_EQ(L[1], u"com3=y");
    L.SetValues(u"COM9", u"");
    EXPECT_EQ(L.Count(), 4);
    L.SetCaseSensitive(true);
    EXPECT_EQ(L.IndexOf(u"com1"), -1);
}

TEST(StringList, SortedListsAndDuplicates)
{
    TStringList L;
    L.SetSorted(true);
    for (auto* T : {u"COM10", u"com2", u"COM1", u"Com2"}) L.Add(T);
    ASSERT_EQ(L.Count(), 3);  // duplicates ignored, case-insensitively
    EXPECT_EQ(L[0], u"COM1");
    EXPECT_EQ(L[1], u"COM10");
    EXPECT_EQ(L[2], u"com2");
    EXPECT_EQ(L.IndexOf(u"COM2"), 2);
    EXPECT_THROW(L.Insert(0, u"x"), EStringListError);
    L.SetDuplicates(dupError);
    EXPECT_THROW(L.Add(u"com1"), EStringListError);
    L.SetDuplicates(dupAccept);
    L.Add(u"com1");
    EXPECT_EQ(L.Count(), 4);
}

TEST(StringList, OwnedObjectsAreFreedWithTheirEntries)
{
    struct TCounted : TObject {
        explicit TCounted(int& C) : Count(C) { ++Count; }
        ~TCounted() override { --Count; }
        int& Count;
    };
    int Alive = 0;
    {
        TStringList L(true);
        L.AddObject(u"a", new TCounted(Alive));
        L.AddObject(u"b", new TCounted(Alive));
        L.AddObject(u"c", new TCounted(Alive));
        L.Delete(1);
        EXPECT_EQ(Alive, 2);
        L.SetText(u"x\r\ny");  // new text replaces the entries and their objects
        EXPECT_EQ(Alive, 0);
        L.SetObjects(0, new TCounted(Alive));
        L.Clear();
        EXPECT_EQ(Alive, 0);
        L.AddObject(u"z", new TCounted(Alive));
    }
    EXPECT_EQ(Alive, 0);
}

TEST(StringList, TextAndCommaText)
{
    TStringList L;
    L.SetText(u"a\r\nb\nc\rd");
    EXPECT_EQ(L.Count(), 4);
    L.SetText(u"x\r\n\r\n");
    EXPECT_EQ(L.Count(), 2);
    EXPECT_EQ(L[1], u"");
    L.SetCommaText(u"one, \"two words\",\"say \"\"hi\"\"\"");
    ASSERT_EQ(L.Count(), 3);
    EXPECT_EQ(L[1], u"two words");
    EXPECT_EQ(L[2], u"say \"hi\"");
    EXPECT_EQ(L.CommaText(), u"one,\"two words\",\"say \"\"hi\"\"\"");
}

TEST(StringList, FilesAreWindows1252WithCrLfAndFailuresCarryTheRuntimesTexts)
{
    auto Dir = std::filesystem::path(::testing::TempDir()) / "toolkit-strings";
    std::filesystem::create_directories(Dir);
    UnicodeString Name = Utf8ToUnicode((Dir / "conf.dat").string());
    TStringList L;
    L.Add(u"0.5");
    L.Add(u"Grüße €");
    L.SaveToFile(Name);
    EXPECT_EQ(ReadFileBytes(Name),
              "0.5\r\nGr\xFC\xDF"
              "e \x80\r\n");
    TStringList R;
    R.LoadFromFile(Name);
    EXPECT_EQ(R.Text(), L.Text());
    // A UTF-8 file with BOM is read as UTF-8.
    WriteFileBytes(Name,
                   "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
                   "e\n");
    R.LoadFromFile(Name);
    EXPECT_EQ(R[0], u"Grüße");

    UnicodeString Missing = Utf8ToUnicode((Dir / "missing.dat").string());
    try {
        R.LoadFromFile(Missing);
        FAIL() << "no error";
    } catch (const EFOpenError& E) {
        EXPECT_EQ(E.Message(), u"Datei " + Missing +
                                   u" kann nicht geöffnet werden. Das System kann die angegebene Datei nicht finden");
    }
    UnicodeString NoDir = Utf8ToUnicode((Dir / "nodir" / "x.dat").string());
    try {
        L.SaveToFile(NoDir);
        FAIL() << "no error";
    } catch (const EFCreateError& E) {
        EXPECT_EQ(E.Message(), u"Datei \"" + NoDir +
                                   u"\" kann nicht erstellt werden. Das System kann den angegebenen Pfad nicht finden");
    }
    try {
        R.LoadFromFile(NoDir);
        FAIL() << "no error";
    } catch (const EFOpenError& E) {
        EXPECT_EQ(E.Message(), u"Datei " + NoDir +
                                   u" kann nicht geöffnet werden. Das System kann den angegebenen Pfad nicht finden");
    }
    EXPECT_THROW(R.LoadFromFile(Utf8ToUnicode(Dir.string())), EFOpenError);  // a folder
    std::filesystem::remove_all(Dir);
}

}  // namespace
