#include "platform/StringTable.h"

#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

using platform::StringTable;

TEST(StringTable, ParsesEntriesCommentsAndEscapes) {
    const QString text = QString::fromUtf8(
        "\xEF\xBB\xBF/* a block\n comment */\n"
        "\"Note\" = \"Hinweis\";\n"
        "// a line comment\n"
        "\"say \\\"hi\\\"\" = \"back\\\\slash\\nnew line\\ttab \\u00e9\";\n"
        "\"spaced\"    =\n   \"value\"  ;  \"second\" = \"on the same line\";\n"
        "\"Note\" = \"later entries win\";\n");
    QString error;
    const auto table = StringTable::parse(text, &error);
    ASSERT_TRUE(table) << error.toStdString();
    EXPECT_EQ(table->size(), 4);
    EXPECT_EQ(table->value("Note"), "later entries win");
    EXPECT_EQ(table->value("say \"hi\""), QString::fromUtf8("back\\slash\nnew line\ttab \xC3\xA9"));
    EXPECT_EQ(table->value("spaced"), "value");
    EXPECT_EQ(table->value("second"), "on the same line");
}

TEST(StringTable, SyntaxErrorsNameTheLine) {
    QString error;
    EXPECT_FALSE(StringTable::parse("\"a\" = \"b\";\n\"c\" = \"d\"\n", &error));
    EXPECT_TRUE(error.startsWith("line 3")) << error.toStdString();  // the missing ';' shows at EOF
    EXPECT_FALSE(StringTable::parse("\"a\" \"b\";", &error));
    EXPECT_FALSE(StringTable::parse("\"unterminated = \"b\";", &error));
    EXPECT_FALSE(StringTable::parse("/* never closed", &error));
    EXPECT_FALSE(StringTable::parse("\"a\" = \"\\u12\";", &error));
    EXPECT_TRUE(StringTable::parse(""));
}

TEST(StringTable, LooksKeysUpAndFallsBackToTheKey) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path() / "localizable.strings", "\"Ok\" = \"Okay\";\n");
    testsupport::writeFile(dir.path() / "broken.strings", "\"Ok\" = ");
    StringTable::setResourcesDir(QString::fromStdString(dir.str()));
    EXPECT_EQ(StringTable::localized("localizable", "Ok"), "Okay");
    EXPECT_EQ(StringTable::localized("localizable", "Cancel"), "Cancel");
    EXPECT_EQ(StringTable::localized("missing-table", "Ok"), "Ok");
    EXPECT_EQ(StringTable::localized("broken", "Ok"), "Ok");

    // The build tree finds the app's own tables without any set-up.
    StringTable::setResourcesDir(QString());
    EXPECT_EQ(StringTable::localized("localizable", "Note"), "Note");
    EXPECT_TRUE(QFile::exists(StringTable::resourcesDir() + "/localizable.strings"));
}
