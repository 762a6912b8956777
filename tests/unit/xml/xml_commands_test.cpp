// The "-xml" editing mode through the program: navigation, editing,
// printing, "NOT FOUND", and saving with its backup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "../../support/command.h"
#include "../../support/file_text.h"

namespace {

const char* document =
    "<?xml version=\"1.0\"?>\n"
    "<list>\n"
    "  <item id=\"main\" lang=\"en\">first</item>\n"
    "  <!-- between -->\n"
    "  <item id=\"two\"><sub>deep</sub></item>\n"
    "</list>\n";

struct Folder {
    std::string path;
    Folder()
    {
        char t[] = "/tmp/tavrin-xml-cmd-XXXXXX";
        path = mkdtemp(t);
    }
    ~Folder() { std::system(("rm -rf " + path).c_str()); }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
};

CommandResult xml(const std::string& file, const std::string& args)
{
    return run_command_line(std::string(TAVRIN_BINARY) + " -xml -file:" + file + " " + args);
}

// Python's own reader, which insists on well-formed XML.
bool python_reads(const std::string& file)
{
    std::string cmd = "python3 -c 'import xml.etree.ElementTree as E,sys; E.parse(sys.argv[1])' " + file;
    return run_command_line(cmd).status == 0;
}

}  // namespace

TEST(XmlCommands, NavigateEditAndPrint)
{
    Folder dir;
    std::string file = dir.write("doc.xml", document);
    const std::string whole =
        "<?xml version=\"1.0\"?>\n"
        "<list>\n"
        "  <item id=\"main\" lang=\"en\">first</item>\n"
        "  <!-- between -->\n"
        "  <item id=\"two\">\n"
        "    <sub>deep</sub>\n"
        "  </item>\n"
        "</list>\n"
        "\n";
    auto replaced = [&whole](const std::string& from, const std::string& to) {
        std::string s = whole;
        size_t at = s.find(from);
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    struct Case {
        const char* args;
        std::string out;
    } cases[] = {
        {"", whole},  // no command: the whole document
        {"-root -child:1", "<item id=\"main\" lang=\"en\">first</item>\n"},
        {"-id:main -set:new", replaced("<item id=\"main\" lang=\"en\">first</item>", "<new id=\"main\" lang=\"en\">first</new>")},
        {"-id:main -child:1:#text -set:'1<2'", replaced(">first<", ">1&lt;2<")},
        {"-id:two -drop", replaced("  <item id=\"two\">\n    <sub>deep</sub>\n  </item>\n", "")},
        {"-id:two '-add:<n/>'", replaced("    <sub>deep</sub>\n", "    <sub>deep</sub>\n    <n/>\n")},
        {"-root -descendant:0:*:lang:en", "<item id=\"main\" lang=\"en\">first</item>\n"},
        {"-root -child:-1:* -psibling:2", "<item id=\"main\" lang=\"en\">first</item>\n"},
        {"-id:main -fsibling:2:item -child:1:sub -ancestor:1:list -child:1:#text:lang", "NOT FOUND\r\n"},
        {"-id:main -following:1:sub", "<sub>deep</sub>\n"},
        {"-root -preceding:1", "NOT FOUND\r\n"},
        {"-id:none -set:new", "NOT FOUND\r\n"},  // an edit after a failed search is ignored
        {"-root -child:1 -save", "<item id=\"main\" lang=\"en\">first</item>\n"},  // nothing changed: printed
    };
    for (const Case& c : cases) {
        CommandResult r = xml(file, c.args);
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
    }
    EXPECT_EQ(slurp(file), document);  // none of them wrote the file
    EXPECT_FALSE(std::ifstream(file + ".BAK").good());

    CommandResult missing = xml(dir.path + "/none.xml", "-root");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "File '" + dir.path + "/none.xml' not found\n");
}

TEST(XmlCommands, SaveKeepsABackupAndWritesWellFormedXml)
{
    Folder dir;
    std::string text = std::string(document) + "<!-- after -->\n";
    std::string messy = dir.write("messy.xml",
                                  "<?xml version='1.0' encoding='utf-8'?><!DOCTYPE r [<!ENTITY me \"M &amp; E\">]>"
                                  "<r q='a &quot;b&quot; &lt;c&gt;' a=\"&me;\">x &amp;lt; &me; &#62;"
                                  "<![CDATA[raw ]]]]><![CDATA[> <&>]]><br/><e k=\"v\" /></r>");
    std::string file = dir.write("doc.xml", document);
    CommandResult r = xml(file, "-id:two -set:renamed -save");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(slurp(file + ".BAK"), document);
    std::string saved = slurp(file);
    EXPECT_NE(saved.find("<renamed id=\"two\">"), std::string::npos);
    EXPECT_NE(saved.find("</renamed>"), std::string::npos);
    EXPECT_TRUE(python_reads(file));

    // Saved again: the backup is replaced by the version just saved.
    EXPECT_EQ(xml(file, "-id:main -drop -save").status, 0);
    EXPECT_EQ(slurp(file + ".BAK"), saved);
    EXPECT_EQ(slurp(file).find("main"), std::string::npos);

    // "-save:" names the file written; escapes and CDATA survive the trip.
    std::string other = dir.path + "/other.xml";
    EXPECT_EQ(xml(messy, "-root -set:root -save:\"" + other + "\"").status, 0);
    EXPECT_TRUE(python_reads(other));
    CommandResult again = xml(other, "-root");
    EXPECT_EQ(again.out,
              "<root a=\"M &amp; E\" q=\"a &quot;b&quot; &lt;c&gt;\">x &amp;lt; M &amp; E &gt;\n"
              "  <![CDATA[raw ]]]]>\n"
              "  <![CDATA[> <&>]]>\n"
              "  <br/>\n"
              "  <e k=\"v\"/>\n"
              "</root>\n");
    // A section whose text came to hold "]]>" is written as two.
    EXPECT_EQ(xml(other, "-root -child:2:#text '-set:a]]>b' -save").status, 0);
    EXPECT_TRUE(python_reads(other));
    EXPECT_EQ(xml(other, "-root -child:2:#text").out, "<![CDATA[a]]]]>\n");
    EXPECT_EQ(xml(other, "-root -child:3:#text").out, "<![CDATA[>b]]>\n");
}

// What a save writes: the whole edited document, with each external
// entity written as its reference rather than the content it was read
// from, which stays in its own file.
TEST(XmlCommands, SaveWritesExternalEntitiesAsTheirReferences)
{
    Folder dir;
    dir.write("chapter.xml", "<chapter id=\"c1\">text of the chapter</chapter>");
    std::string file = dir.write("book.xml",
                                 "<?xml version=\"1.0\"?>\n<!DOCTYPE book [<!ENTITY ch SYSTEM \"" + dir.path +
                                     "/chapter.xml\">]>\n<book><title id=\"t\">Old</title>&ch;</book>\n");
    // Navigation reaches into the entity's content.
    EXPECT_EQ(xml(file, "-id:c1").out, "<chapter id=\"c1\">text of the chapter</chapter>\n");
    EXPECT_EQ(xml(file, "-id:t -child:1:#text -set:New -save").status, 0);
    std::string saved = slurp(file);
    EXPECT_NE(saved.find("<title id=\"t\">New</title>"), std::string::npos);
    EXPECT_NE(saved.find("&ch;"), std::string::npos);
    EXPECT_EQ(saved.find("text of the chapter"), std::string::npos);
    // ElementTree refuses external entities outright; expat itself, told
    // to leave them alone, checks the rest.
    std::string cmd = "python3 -c 'import xml.parsers.expat as X,sys; p=X.ParserCreate(); "
                      "p.ExternalEntityRefHandler=lambda *a: 1; p.Parse(open(sys.argv[1],\"rb\").read(), True)' " +
                      file;
    EXPECT_EQ(run_command_line(cmd).status, 0) << saved;
    EXPECT_EQ(xml(file, "-id:c1 -ancestor:1:book").out.find("<book>"), 0u);  // it reads back the same way
}
