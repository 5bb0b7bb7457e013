#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "../mdimport/golden.h"
#include "../../support/run_program.h"
#include "../../support/scratch.h"
#include "mdimport_cli.h"
#include "mdindex/core/plist.h"
#include "mdindex/importers/report.h"
#include "mdls_cli.h"

using namespace mdindex;

namespace {

const std::string kDataDir = FINDLARK_TEST_DATA_DIR "/importers/";

ToolRun mdls(const std::vector<std::string>& args) { return runInProcess(tools::runMdls, args); }

// A fresh HOME and an index holding a few of the committed inputs.
class MdlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_.useAsHome();
    std::ostringstream out, err;
    ASSERT_EQ(tools::runMdimport({kDataDir + "doc.pdf", kDataDir + "camera.png", kDataDir + "page.html"}, out, err), 0)
        << err.str();
  }
  Scratch home_;
};

}  // namespace

TEST_F(MdlsTest, ListingsMatchTheGoldenFile) {
  const ToolRun o = mdls({kDataDir + "doc.pdf", kDataDir + "camera.png", kDataDir + "page.html"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  expectGolden(maskOutput(o.out, kDataDir), kDataDir + "golden/mdls.txt");
}

TEST_F(MdlsTest, NamedAttributesAndRawValues) {
  const std::string pdf = kDataDir + "doc.pdf";
  EXPECT_EQ(mdls({"-name", "kMDItemTitle", pdf}).out, "kMDItemTitle = \"Grazing Guide\"\n");
  // Several names: in the order given, padded to the longest, missing ones (null).
  EXPECT_EQ(mdls({"-name", "kMDItemNumberOfPages", "-name", "kMDItemTitle", "-name", "kMDItemNope", pdf}).out,
            "kMDItemNumberOfPages = 2\n"
            "kMDItemTitle         = \"Grazing Guide\"\n"
            "kMDItemNope          = (null)\n");
  // Text content is never listed, even when asked for.
  EXPECT_EQ(mdls({"-name", "kMDItemTextContent", pdf}).out, "kMDItemTextContent = (null)\n");

  EXPECT_EQ(mdls({"-raw", "-name", "kMDItemTitle", "-name", "kMDItemNope", pdf}).out,
            std::string("Grazing Guide\0(null)", 20));
  EXPECT_EQ(mdls({"-raw", "-nullMarker", "-", "-name", "kMDItemNope", "-name", "kMDItemAuthors", pdf}).out,
            std::string("-\0(\n    \"Cy Rancher\"\n)", 22));
}

TEST_F(MdlsTest, NotIndexedMissingAndBadUsage) {
  Scratch s;
  const std::string name = s.write("a \"b\"\nc.txt", "x");
  ToolRun o = mdls({"-name", "kMDItemFSName", "-name", "kMDItemFSSize", name, s.path("missing"), kDataDir + "doc.pdf"});
  // Not indexed: listed from the file system, with a note; missing: an error.
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "kMDItemFSName = \"a \\\"b\\\"\\nc.txt\"\n"
            "kMDItemFSSize = 1\n"
            "kMDItemFSName = \"doc.pdf\"\n"
            "kMDItemFSSize = 3061\n");
  EXPECT_EQ(o.err, "mdls: '" + s.dir() + "/a \"b\"\\nc.txt' is not in the index; only its file-system " +
                       "attributes are listed.\nmdls: cannot read '" + s.path("missing") +
                       "': No such file or directory\n");

  // No index at all: every file is simply not indexed.
  setenv("FINDLARK_INDEX_DIR", s.path("no-index").c_str(), 1);
  o = mdls({"-name", "kMDItemKind", kDataDir + "doc.pdf"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "kMDItemKind = \"PDF document\"\n");
  EXPECT_NE(o.err.find("is not in the index"), std::string::npos);

  o = mdls({"-name"});
  EXPECT_EQ(o.status, 64);
  EXPECT_NE(o.err.find("usage: mdls"), std::string::npos);
  EXPECT_EQ(mdls({"-plist", "x"}).status, 64);  // no path
  EXPECT_EQ(mdls({"-plist", "-", "-raw", kDataDir + "doc.pdf"}).status, 64);
  EXPECT_EQ(mdls({"-plist", "-", "-name", "kMDItemTitle", kDataDir + "doc.pdf"}).status, 64);
  EXPECT_EQ(mdls({}).status, 64);
}

// -plist: the listing as an XML property list, read back with libplist.
TEST_F(MdlsTest, PlistOutputReadsBackAsTheListing) {
  const std::string pdf = kDataDir + "doc.pdf", png = kDataDir + "camera.png";
  ToolRun o = mdls({"-plist", "-", pdf});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("<?xml", 0), 0u);
  PlistPtr root = parsePlist(o.out);
  ASSERT_TRUE(root);
  ASSERT_EQ(plist_get_node_type(root.get()), PLIST_DICT);
  EXPECT_EQ(plistString(plist_dict_get_item(root.get(), "kMDItemTitle")), "Grazing Guide");
  EXPECT_EQ(plist_dict_get_item(root.get(), "kMDItemTextContent"), nullptr);
  plist_t pages = plist_dict_get_item(root.get(), "kMDItemNumberOfPages");
  ASSERT_EQ(plist_get_node_type(pages), PLIST_UINT);
  uint64_t n = 0;
  plist_get_uint_val(pages, &n);
  EXPECT_EQ(n, 2u);
  plist_t authors = plist_dict_get_item(root.get(), "kMDItemAuthors");
  ASSERT_EQ(plist_get_node_type(authors), PLIST_ARRAY);
  EXPECT_EQ(plistString(plist_array_get_item(authors, 0)), "Cy Rancher");
  // The date is the one mdls lists.
  plist_t changed = plist_dict_get_item(root.get(), "kMDItemFSContentChangeDate");
  ASSERT_EQ(plist_get_node_type(changed), PLIST_DATE);
  int32_t sec = 0, usec = 0;
  plist_get_date_val(changed, &sec, &usec);
  const std::string listed = mdls({"-name", "kMDItemFSContentChangeDate", pdf}).out;
  EXPECT_EQ("kMDItemFSContentChangeDate = " + formatDate(Date{sec + 978307200.0}) + "\n", listed);

  // Several paths: an array of dictionaries in order, written to a file.
  Scratch s;
  o = mdls({"-plist", s.path("out.plist"), pdf, png});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "");
  std::ifstream in(s.path("out.plist"), std::ios::binary);
  root = parsePlist(std::string(std::istreambuf_iterator<char>(in), {}));
  ASSERT_TRUE(root);
  ASSERT_EQ(plist_get_node_type(root.get()), PLIST_ARRAY);
  ASSERT_EQ(plist_array_get_size(root.get()), 2u);
  EXPECT_EQ(plistString(plist_dict_get_item(plist_array_get_item(root.get(), 1), "kMDItemFSName")), "camera.png");

  o = mdls({"-plist", s.path("no/such/folder.plist"), pdf});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("mdls: cannot write"), std::string::npos) << o.err;
}

TEST_F(MdlsTest, HeadingsNameEachListing) {
  const std::string pdf = kDataDir + "doc.pdf", png = kDataDir + "camera.png";
  EXPECT_EQ(mdls({"-heading", "-name", "kMDItemFSName", pdf, png}).out,
            pdf + ":\nkMDItemFSName = \"doc.pdf\"\n\n" + png + ":\nkMDItemFSName = \"camera.png\"\n");
}
