// The XML reader and tree: tokens and nodes, references and entities with
// their bounds, external entities, the writer, the axis searches, and a
// document too deep for any recursion.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "xml/xml_entity_loader.h"
#include "xml/xml_parse.h"
#include "xml/xml_tokenizer.h"
#include "../../support/loopback_peer.h"

namespace {

std::string str(const string& s) { return std::string(s.c_str(), s.length()); }

std::vector<XmlParse*> children(XmlParse& node)
{
    std::vector<XmlParse*> out;
    ListIterator<XmlParse*> it(node);
    XmlParse* child;
    for (int more = it.first(child); more; more = it.next(child)) out.push_back(child);
    return out;
}

// Every text and CDATA byte under node, in document order.
std::string all_text(XmlParse& node)
{
    std::string out;
    std::vector<XmlParse*> pending{&node};
    while (!pending.empty()) {
        XmlParse* n = pending.back();
        pending.pop_back();
        if (n->type == XmlParse::text || n->type == XmlParse::cdata) out += str(n->name);
        std::vector<XmlParse*> c = children(*n);
        for (auto it = c.rbegin(); it != c.rend(); ++it) pending.push_back(*it);
    }
    return out;
}

void parse(XmlParse& doc, const std::string& text, const XmlEntityPolicy& policy = XmlEntityPolicy())
{
    doc.parse_document(text.data(), text.size(), policy);
}

std::string serialized(XmlParse& node) { return str(node.serialize(0, false)); }

// A folder of its own for entity files, removed afterwards.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char t[] = "/tmp/tavrin-xml-test-XXXXXX";
        path = mkdtemp(t);
    }
    ~TempFolder() { std::system(("rm -rf " + path).c_str()); }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
};

}  // namespace

TEST(XmlText, UnescapeOnceAndKeepWhatItDoesNotKnow)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"&amp;lt;", "&lt;"},  // unescaped once only
        {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
        {"&#65;&#x42;&#x143;&#323;", "ABCC"},  // the low 8 bits of the number
        {"&bogus; &#; &#x; &#1a; &amp", "&bogus; &#; &#x; &#1a; &amp"},
        {"a & b", "a & b"},
    };
    for (const Case& c : cases) EXPECT_EQ(str(xml_unescape(c.in)), c.out) << c.in;
    EXPECT_EQ(str(xml_escape("<a & \"b\" 'c'>", false)), "&lt;a &amp; \"b\" 'c'&gt;");
    EXPECT_EQ(str(xml_escape("<a & \"b\" 'c'>", true)), "&lt;a &amp; &quot;b&quot; &apos;c&apos;&gt;");
}

TEST(XmlTree, DeclarationRootsTheDocumentAndEndTagsAreNotMatched)
{
    XmlParse doc;
    doc.parse_document("<?xml version=\"1.1\" encoding=\"ISO-8859-1\"?>\n<r><a>one</b>two</r>");
    EXPECT_EQ(doc.type, XmlParse::instruction);
    EXPECT_EQ(str(doc.version()), "1.1");
    EXPECT_EQ(doc.utf8, 0);
    ASSERT_EQ(children(doc).size(), 1u);
    XmlParse* r = children(doc)[0];
    EXPECT_EQ(str(r->name), "r");
    ASSERT_EQ(children(*r).size(), 2u);  // "</b>" closed <a>; "two" is r's
    EXPECT_EQ(str(children(*r)[1]->name), "two");

    XmlParse bare;
    bare.parse_document("lead <top k='v'>in  \r\n </top>");
    EXPECT_EQ(bare.type, XmlParse::element);
    EXPECT_EQ(str(bare.name), "top");
    std::vector<XmlParse*> c = children(bare);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(str(c[0]->name), "lead");  // text before the first tag is the root's
    EXPECT_EQ(str(c[1]->name), "in");    // trailing blanks dropped
}

TEST(XmlTree, AttributesAreSortedAndBareOrEmptyOnesDropped)
{
    XmlParse doc;
    doc.parse_document("<e zeta=\"1\" bare alpha='2' empty=\"\" Mid=3 spaced = \"4\" alpha=\"5\" q=\"a &quot;b&quot; &amp; c\"/>");
    const XmlAttributeMap* a = doc.attributes();
    ASSERT_NE(a, nullptr);
    std::vector<std::string> names;
    for (size_t i = 0; i < a->count(); ++i) names.push_back(str(a->at(i).first));
    EXPECT_EQ(names, (std::vector<std::string>{"Mid", "alpha", "q", "spaced", "zeta"}));
    string v;
    EXPECT_TRUE(doc.get_attribute("alpha", v));
    EXPECT_EQ(str(v), "5");
    EXPECT_TRUE(doc.get_attribute("q", v));
    EXPECT_EQ(str(v), "a \"b\" & c");  // an escaped quote does not end the value
    EXPECT_FALSE(doc.get_attribute("bare", v));
    EXPECT_FALSE(doc.get_attribute("empty", v));
    EXPECT_EQ(serialized(doc), "<e Mid=\"3\" alpha=\"5\" q=\"a &quot;b&quot; &amp; c\" spaced=\"4\" zeta=\"1\"/>\n");
}

TEST(XmlWriter, LayoutOfEachKindOfNode)
{
    XmlParse doc;
    doc.parse_document(
        "<?xml version=\"1.0\"?><!DOCTYPE r><r><!-- note > here --><br/><img src=\"a.png\" />"
        "<p>x &lt; y</p><![CDATA[ a<b ]]><?pi data?><q><i>deep</i></q></r>");
    EXPECT_EQ(serialized(doc),
              "<?xml version=\"1.0\"?>\n"
              "<!DOCTYPE r>\n"
              "<r>\n"
              "  <!-- note > here -->\n"
              "  <br/>\n"
              "  <img src=\"a.png\"/>\n"
              "  <p>x &lt; y</p>\n"
              "  <![CDATA[ a<b ]]>\n"
              "  <?pi?>\n"  // an instruction keeps its name and name=value pairs only
              "  <q>\n"
              "    <i>deep</i>\n"
              "  </q>\n"
              "</r>\n"
              "\n");  // the declaration's own line end, after what it roots
}

TEST(XmlEntities, InternalEntityIsParsedAsMarkup)
{
    XmlParse doc;
    doc.parse_document("<!DOCTYPE r [<!ENTITY x \"<b id='in'>bold</b>\"><!ENTITY amp2 \"&#38;\">]>"
                       "<r a=\"&amp2;\">say &x; &amp2; &undeclared;</r>");
    XmlParse* b = doc.find_id("in");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(str(b->name), "b");
    EXPECT_EQ(all_text(*b), "bold");
    XmlParse* r = b->parent;
    string v;
    ASSERT_TRUE(r->get_attribute("a", v));
    EXPECT_EQ(str(v), "&");
    EXPECT_EQ(all_text(*r), "saybold& &undeclared;");
    // The declaration keeps its references, so it reads the same again.
    EXPECT_NE(serialized(doc).find("<!ENTITY amp2 \"&#38;\">"), std::string::npos);
}

TEST(XmlEntities, ExpansionStopsAtTheBounds)
{
    // Self-reference: expanded to the depth bound, then left as text.
    XmlParse self;
    self.parse_document("<!DOCTYPE r [<!ENTITY a \"x&a;\">]><r>&a;</r>");
    EXPECT_EQ(all_text(self), std::string(XmlTokenizer::max_depth, 'x') + "&a;");

    // Ten entities each ten times the one before: 10^10 bytes if expanded.
    std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><r>&l10;</r>";
    auto started = std::chrono::steady_clock::now();
    XmlParse bomb;
    parse(bomb, laughs);
    size_t bound = laughs.size() * 10 + XmlTokenizer::extra_budget;
    size_t got = all_text(bomb).size();
    EXPECT_GT(got, bound / 4);  // it did expand, up to the bound
    EXPECT_LT(got, bound + 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(XmlEntities, ManyReferencesCostLinearTime)
{
    // 400000 references in 2.4 MB: copying the rest of the input at each
    // would move about a terabyte.
    std::string body;
    for (int i = 0; i < 400000; ++i) body += "<v>&e;</v>";
    std::string text = "<!DOCTYPE r [<!ENTITY e \"yes\">]><r>" + body + "</r>";
    auto started = std::chrono::steady_clock::now();
    XmlParse doc;
    parse(doc, text);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    XmlParse* last = doc.nth_descendant(-1, "v", "", "");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(all_text(*last), "yes");
}

TEST(XmlEntities, ExternalEntityFromAFile)
{
    TempFolder dir;
    std::string part = dir.write("part.xml", "<inner id=\"in\">inside</inner>");
    std::string self = dir.write("self.xml", "<s>&self;</s>");
    std::string text = "<!DOCTYPE r [<!ENTITY part SYSTEM \"" + part + "\"><!ENTITY self SYSTEM '" + self +
                       "'>]><r>before &part; <t a=\"&part;\"/>&self;</r>";
    XmlParse doc;
    parse(doc, text);
    XmlParse* inner = doc.find_id("in");
    ASSERT_NE(inner, nullptr);
    XmlParse* node = inner->parent;
    EXPECT_EQ(node->type, XmlParse::external_entity);
    EXPECT_EQ(str(node->name), "&part;");
    EXPECT_EQ(str(node->entity_source()), part);
    EXPECT_EQ(node->sub_root, node);
    EXPECT_EQ(inner->sub_root, node);
    EXPECT_EQ(inner->main_root, &doc);
    EXPECT_EQ(str(children(*node->parent)[0]->name), "before");  // the text before is a node of its own
    // Inside a tag an external entity stays a reference.
    XmlParse* t = doc.nth_descendant(0, "t", "", "");
    string v;
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(t->get_attribute("a", v));
    EXPECT_EQ(str(v), "&part;");
    // A file that includes itself is taken in only to the depth bound.
    long levels = 0;
    while (doc.nth_descendant(levels + 1, "s", "", "")) ++levels;
    EXPECT_GT(levels, 1);
    EXPECT_LE(levels, XmlTokenizer::max_depth);

    // References only: the entity as its reference, not its content.
    std::string saved = str(doc.serialize(0, true));
    EXPECT_NE(saved.find("&part;"), std::string::npos);
    EXPECT_EQ(saved.find("inside"), std::string::npos);

    // With loading off, nothing is read and the reference stays text.
    XmlEntityPolicy off;
    off.load_external = false;
    XmlParse quiet;
    parse(quiet, text, off);
    EXPECT_EQ(quiet.find_id("in"), nullptr);
    EXPECT_NE(all_text(quiet).find("&part;"), std::string::npos);
}

TEST(XmlEntities, MissingOrOversizedExternalDocuments)
{
    TempFolder dir;
    unsigned long saved_wait = xml_open_retry_ms;
    xml_open_retry_ms = 0;
    // Larger than the whole budget of the small document that names it.
    std::string big = dir.write("big.xml", std::string(XmlTokenizer::extra_budget + 4096, 'b'));
    std::string text = "<!DOCTYPE r [<!ENTITY gone SYSTEM \"" + dir.path + "/none.xml\"><!ENTITY big SYSTEM \"" + big +
                       "\"><!ENTITY ftp SYSTEM \"ftp://127.0.0.1/x\">]><r>&gone;|&big;|&ftp;</r>";
    XmlParse doc;
    parse(doc, text);
    xml_open_retry_ms = saved_wait;
    XmlParse* r = doc.nth_child(0, "r", "", "");  // under the DOCTYPE, the first tag
    ASSERT_NE(r, nullptr);
    std::vector<XmlParse*> c = children(*r);
    ASSERT_GE(c.size(), 2u);
    EXPECT_EQ(c[0]->type, XmlParse::external_entity);  // a missing file is an empty entity
    EXPECT_TRUE(children(*c[0]).empty());
    EXPECT_EQ(all_text(doc), "|&big;|&ftp;");  // past the bound, or not a file or page: text
}

TEST(XmlEntities, ExternalEntityOverHttpWithinItsBound)
{
    for (bool oversized : {false, true}) {
        std::string body = oversized ? std::string(XmlTokenizer::extra_budget + 4096, 'p') : "<page id=\"p\">web</page>";
        LoopbackPeer peer([&body](int s) {
            char buf[4096];
            ::recv(s, buf, sizeof buf, 0);
            LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                           "\r\n\r\n" + body);
        });
        std::string text =
            "<!DOCTYPE r [<!ENTITY w SYSTEM \"http://127.0.0.1:" + peer.port() + "/e.xml\">]><r>&w;</r>";
        XmlParse doc;
        parse(doc, text);
        peer.join();
        if (oversized) {
            EXPECT_EQ(all_text(doc), "&w;");
        } else {
            XmlParse* p = doc.find_id("p");
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->parent->type, XmlParse::external_entity);
            EXPECT_EQ(all_text(*p), "web");
        }
    }
}

namespace {

const char* nav_doc =
    "<?xml version=\"1.0\"?>"
    "<r id=\"r\">"
    "<a id=\"a1\" lang=\"en\">t1<b id=\"b1\"/><c id=\"c1\"><b id=\"b2\" lang=\"fr\"/></c></a>"
    "<?pi x?>"
    "<a id=\"a2\" lang=\"de\"><b id=\"b3\" lang=\"en\"/>t2</a>"
    "<d id=\"a1\"/>"
    "</r>";

std::string id_of(XmlParse* n)
{
    if (!n) return "none";
    string v;
    if (n->get_attribute("id", v)) return str(v);
    return "'" + str(n->name) + "'";
}

}  // namespace

TEST(XmlNavigation, AxisSearches)
{
    XmlParse doc;
    parse(doc, nav_doc);
    XmlParse* r = doc.find_id("r");
    XmlParse* a1 = doc.find_id("a1");
    XmlParse* b2 = doc.find_id("b2");
    XmlParse* b3 = doc.find_id("b3");
    ASSERT_TRUE(r && a1 && b2 && b3);
    using Axis = XmlParse* (XmlParse::*)(long, const char*, const char*, const char*);
    struct Case {
        XmlParse* from;
        Axis axis;
        long n;
        const char* test;
        const char* attribute;
        const char* value;
        const char* expected;
    } cases[] = {
        {r, &XmlParse::nth_child, 0, "", "", "", "a1"},
        {r, &XmlParse::nth_child, 2, "", "", "", "a2"},  // without a test only elements count
        {r, &XmlParse::nth_child, -1, "*", "", "", "a1"},  // the last element child: the d
        {r, &XmlParse::nth_child, 2, "a", "", "", "a2"},
        {r, &XmlParse::nth_child, 3, "a", "", "", "none"},
        {r, &XmlParse::nth_child, 1, "#pi", "", "", "'?pi'"},
        {a1, &XmlParse::nth_child, -1, "#text", "", "", "'t1'"},
        {r, &XmlParse::nth_descendant, 3, "b", "", "", "b3"},
        {r, &XmlParse::nth_descendant, 0, "*", "lang", "en", "a1"},
        {r, &XmlParse::nth_descendant, 2, "*", "lang", "en", "b3"},
        {r, &XmlParse::nth_descendant, 0, "", "lang", "fr", "b2"},
        {r, &XmlParse::nth_descendant, -1, "b", "", "", "b3"},
        {r, &XmlParse::nth_descendant, 0, "zz", "", "", "none"},
        {a1, &XmlParse::nth_following, 1, "b", "", "", "b3"},  // a1's own b's are left out
        {b2, &XmlParse::nth_following, 1, "", "", "", "none"},  // c has nothing after b2
        {a1, &XmlParse::nth_sibling, 2, "", "", "", "a2"},   // a1 itself counts
        {b3, &XmlParse::nth_sibling, -1, "#text", "", "", "'t2'"},
        {b2, &XmlParse::nth_ancestor, 1, "", "", "", "c1"},
        {b2, &XmlParse::nth_ancestor, 0, "a", "", "", "a1"},
        {b2, &XmlParse::nth_ancestor, -1, "", "", "", "'?xml'"},  // from the root down
        {b2, &XmlParse::nth_ancestor, -2, "", "", "", "r"},
        {r, &XmlParse::nth_descendant, 1, "#element", "", "", "a1"},
    };
    for (const Case& c : cases) {
        XmlParse* found = (c.from->*c.axis)(c.n, c.test, c.attribute, c.value);
        EXPECT_EQ(id_of(found), c.expected) << id_of(c.from) << " n=" << c.n << " test=" << c.test << " "
                                            << c.attribute << "=" << c.value;
    }
    // The first of two equal ids, in document order.
    EXPECT_EQ(str(doc.find_id("a1")->name), "a");
    EXPECT_EQ(doc.find_id("nothing"), nullptr);

    // Removed nodes are passed over by every search and by the writer.
    a1->drop_node();
    EXPECT_EQ(doc.find_id("b1"), nullptr);
    EXPECT_EQ(id_of(r->nth_child(0, "", "", "")), "a2");
    EXPECT_EQ(id_of(r->nth_descendant(1, "b", "", "")), "b3");
    EXPECT_EQ(a1->find_id("a1"), nullptr);
    EXPECT_EQ(serialized(doc).find("b1"), std::string::npos);
}

TEST(XmlNavigation, AddedDocumentIsAChildAndKeepsItsParent)
{
    XmlParse doc;
    doc.parse_document("<r><a/></r>");
    XmlParse* extra = new XmlParse;
    extra->parse_document("<n id=\"new\">x</n>");
    doc.add_child(extra);
    EXPECT_EQ(extra->parent, nullptr);
    EXPECT_EQ(doc.find_id("new"), extra);
    EXPECT_EQ(serialized(doc), "<r>\n  <a/>\n  <n id=\"new\">x</n>\n</r>\n");
}

TEST(XmlTree, HundredThousandLevelsDeep)
{
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e id=\"" + std::to_string(i) + "\">";
    text += "core";
    for (int i = 0; i < depth; ++i) text += "</e>";
    std::unique_ptr<XmlParse> doc(new XmlParse);
    parse(*doc, text);
    XmlParse* bottom = doc->find_id(std::to_string(depth - 1).c_str());
    ASSERT_NE(bottom, nullptr);
    EXPECT_EQ(bottom, doc->nth_descendant(depth - 1, "e", "", ""));
    EXPECT_EQ(bottom->nth_ancestor(-1, "", "", ""), doc.get());
    EXPECT_EQ(doc->nth_following(1, "", "", ""), nullptr);
    EXPECT_EQ(bottom->nth_child(0, "#text", "", ""), children(*bottom)[0]);
    std::string out = serialized(*doc);
    EXPECT_NE(out.find("core"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 5), "</e>\n");
    XmlParse* middle = doc->find_id("50000");
    middle->drop_node();
    EXPECT_EQ(doc->find_id(std::to_string(depth - 1).c_str()), nullptr);
    EXPECT_LT(serialized(*doc).size(), out.size() / 2 + 1000);
    doc.reset();  // destruction walks no recursion either
}
