#include "base/debug.h"
#include "xml/self.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

namespace {

Self parse(const std::string& text, int* result = nullptr) {
    xml_init();
    Self tree;
    int r = self_parse(text, tree);
    if (result != nullptr) {
        *result = r;
    }
    return tree;
}

} // namespace

TEST(Self, NamesAreLowerCasedContentsAndValuesKeepTheirCase) {
    Self tree = parse("<Playlist ID=\"7\"><Name>Abc</Name></Playlist>");
    EXPECT_EQ(tree.name, "playlist");
    EXPECT_EQ(tree.attributes.at("id"), "7");
    ASSERT_EQ(tree.children.size(), 1u);
    EXPECT_EQ(tree.children[0].name, "name");
    EXPECT_EQ(tree.children[0].contents, "Abc");
}

TEST(Self, EscapedSlashesAndWhiteSpace) {
    Self tree = parse("<r>\n  <url a=\"http:\\/\\/h\\/x\">https:\\/\\/h\\/y</url>\n  <e>  two "
                      "words \n</e>\n</r>");
    EXPECT_EQ(tree.contents, "");
    ASSERT_EQ(tree.children.size(), 2u);
    EXPECT_EQ(tree.children[0].attributes.at("a"), "http://h/x");
    EXPECT_EQ(tree.children[0].contents, "https://h/y");
    EXPECT_EQ(tree.children[1].contents, "two words");
}

TEST(Self, LaterAttributeDifferingInCaseWins) {
    Self tree = parse("<a Id=\"1\" ID=\"2\" b=\"&amp;&lt;\"/>");
    EXPECT_EQ(tree.attributes.size(), 2u);
    EXPECT_EQ(tree.attributes.at("id"), "2");
    EXPECT_EQ(tree.attributes.at("b"), "&<");
}

TEST(Self, MalformedTextLeavesTheTreeAlone) {
    debug_set(1);
    for (const char* bad : {"", "plain text", "<a>", "<a/><b/>", "<a></b>", "\x01\x02"}) {
        testing::internal::CaptureStderr();
        int result = 0;
        Self tree = parse(bad, &result);
        EXPECT_EQ(result, -1) << bad;
        EXPECT_EQ(tree.name, "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "xml_parse: error\n") << bad;
    }
    debug_set(0);
}

TEST(Self, DeepNestingIsRefused) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) {
        deep += "<a>";
    }
    for (int i = 0; i < 5000; ++i) {
        deep += "</a>";
    }
    int result = 0;
    parse(deep, &result);
    EXPECT_EQ(result, -1);
}

TEST(Self, DumpIndentsChildrenByTwoBlanks) {
    Self tree = parse("<a b=\"1\"><c>t</c></a>");
    debug_set(1);
    testing::internal::CaptureStderr();
    self_dump(tree);
    std::string out = testing::internal::GetCapturedStderr();
    debug_set(0);
    EXPECT_EQ(out, "***********************\n"
                   "name     : a\n"
                   "contents : \n"
                   "attr     : b = 1\n"
                   "  ***********************\n"
                   "  name     : c\n"
                   "  contents : t\n");

    testing::internal::CaptureStderr();
    self_dump(tree);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Self, ForeachWalksDepthFirstAndStops) {
    Self tree = parse("<r><a><a1/></a><b><b1><g/></b1></b></r>");
    std::string order;
    EXPECT_EQ(self_foreach(tree,
                           [&](Self& n) {
                               order += n.name + " ";
                               return 0;
                           }),
              0);
    EXPECT_EQ(order, "r a a1 b b1 g ");

    int visits = 0;
    EXPECT_EQ(self_foreach(tree,
                           [&](Self&) {
                               ++visits;
                               return 5;
                           }),
              5);
    EXPECT_EQ(visits, 1);

    order.clear();
    EXPECT_EQ(self_foreach(tree,
                           [&](Self& n) {
                               order += n.name + " ";
                               return n.name == "a1" ? 5 : 0;
                           }),
              1);
    EXPECT_EQ(order, "r a a1 ");
}

TEST(Xml, AttributesAreMatchedExactlyAndCallbackResultReturned) {
    xml_init();
    EXPECT_EQ(xml_init(), 0);
    int seen = xml_parse("<x cmd=\"Search\" Status=\"on\"/>", [](const char*, xml_element* root) {
        EXPECT_STREQ(xml_attr(root, "cmd"), "Search");
        EXPECT_EQ(xml_attr(root, "status"), nullptr);
        EXPECT_EQ(xml_attr(root, "missing"), nullptr);
        return 3;
    });
    EXPECT_EQ(seen, 3);
}

TEST(Xml, AParseInsideACallbackLeavesTheOuterDocumentIntact) {
    // A command handler may read a saved element and dispatch it while the
    // command's own element is still in use.
    xml_init();
    int result = xml_parse("<outer a=\"1\"><c>t</c></outer>", [](const char*, xml_element* root) {
        Self inner;
        EXPECT_EQ(self_parse("<sssn song_id=\"9\"/>", inner), 0);
        EXPECT_EQ(inner.attributes.at("song_id"), "9");
        EXPECT_EQ(root->name, "outer");
        EXPECT_STREQ(xml_attr(root, "a"), "1");
        EXPECT_EQ(root->children.at(0)->contents, "t");
        return 0;
    });
    EXPECT_EQ(result, 0);
    Self after;
    EXPECT_EQ(self_parse("<after/>", after), 0);
    EXPECT_EQ(after.name, "after");
}

TEST(Self, ContentsAreTheElementsOwnTextJoined) {
    Self tree = parse("<a> one <b>inner</b> two <![CDATA[<three>]]> </a>");
    EXPECT_EQ(tree.contents, "one  two <three>");
    EXPECT_EQ(tree.children.at(0).contents, "inner");
}

TEST(Self, ADocumentTypeIsRefusedBeforeItsEntitiesAreRead) {
    const char* doctype = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                          "<r>&b;</r>";
    int result = 0;
    parse(doctype, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(xml_parse(doctype, [](const char*, xml_element*) { return 0; }), -1);
}

TEST(Self, TheTextIsReadByLengthAndEachEscapedSlashOnce) {
    int result = 0;
    // Bytes after a NUL are part of the answer, which is then not well-formed.
    parse(std::string("<a/>\0junk", 9), &result);
    EXPECT_EQ(result, -1);

    // "\\/" holds one escaped slash, after a backslash; escapes may stand at
    // the very start and end of a value, and in markup, as anywhere else.
    Self tree = parse("<a v=\"x\\\\/y\" w=\"\\/\" z=\"a\\/\\/b\\/\"><b\\/>\\/t\\/</a>", &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tree.attributes.at("v"), "x\\/y");
    EXPECT_EQ(tree.attributes.at("w"), "/");
    EXPECT_EQ(tree.attributes.at("z"), "a//b/");
    EXPECT_EQ(tree.contents, "/t/");
    ASSERT_EQ(tree.children.size(), 1u);
    EXPECT_EQ(tree.children[0].name, "b");
}

TEST(Self, AttributesAreFoundByNameAndListedInNameOrder) {
    Self tree = parse("<a zeta=\"1\" Alpha=\"2\" mid=\"3\" ALPHA=\"4\" b=\"\"/>");
    std::string listed;
    for (const auto& attribute : tree.attributes) {
        listed += attribute.first + "=" + attribute.second + " ";
    }
    EXPECT_EQ(listed, "alpha=4 b= mid=3 zeta=1 ");
    EXPECT_NE(tree.attributes.find("b"), tree.attributes.end());
    EXPECT_EQ(tree.attributes.find("c"), tree.attributes.end());
    EXPECT_EQ(tree.attributes.find("zeta2"), tree.attributes.end());
    EXPECT_EQ(tree.attributes.at("missing"), "");

    // Many attributes (a hostile answer) are sorted all the same.
    std::string many = "<a";
    for (int i = 2000; i > 0; --i) {
        many += " n" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    }
    Self wide = parse(many + "/>");
    ASSERT_EQ(wide.attributes.size(), 2000u);
    EXPECT_EQ(wide.attributes.begin()->first, "n1");
    EXPECT_EQ(wide.attributes.at("n1234"), "1234");
}

namespace {

std::vector<std::string> taken_;

bool take_items(const Self& element) {
    if (element.name != "item") {
        return false;
    }
    taken_.push_back(element.attributes.at("id"));
    return true;
}

} // namespace

TEST(Self, TakenElementsAreHandedOverInDocumentOrderAndLeftOut) {
    xml_init();
    taken_.clear();
    Self tree;
    ASSERT_EQ(self_parse("<r><item id=\"1\"/><x>t</x><Item ID=\"2\"><item id=\"3\"/><y/></Item>"
                         "<g><item id=\"4\"/></g></r>",
                         tree, take_items),
              0);
    EXPECT_EQ(taken_, (std::vector<std::string>{"1", "2", "3", "4"}));
    ASSERT_EQ(tree.children.size(), 2u);
    EXPECT_EQ(tree.children[0].name, "x");
    EXPECT_EQ(tree.children[0].contents, "t");
    EXPECT_EQ(tree.children[1].name, "g");
    EXPECT_TRUE(tree.children[1].children.empty());

    // The root is never left out.
    taken_.clear();
    Self single;
    EXPECT_EQ(self_parse("<item id=\"9\"/>", single, take_items), 0);
    EXPECT_EQ(single.name, "item");
}
