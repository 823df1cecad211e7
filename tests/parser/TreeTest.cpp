// Segment data, document order and placement by content model.
#include <gtest/gtest.h>

#include <functional>

#include "ParserTestUtil.h"

namespace kalvix::test {
namespace {

const std::string kXgh = "XGH+1+0039+104512+002'";

SegmentNode* FindTag(const SegmentTree& t, std::string_view tag, int nth = 0) {
  for (SegmentNode* n = t.First(); n; n = n->next)
    if (t.Tag(n) == tag && nth-- == 0) return n;
  return nullptr;
}

std::string ChildTags(const SegmentTree& t, const SegmentNode* p) {
  std::string out;
  for (const SegmentNode* c = p->firstChild; c; c = c->nextSibling) out += std::string(t.Tag(c)) + " ";
  return out;
}

TEST(Tree, ValuesByElementKey) {
  SegmentTree t;
  SegmentNode* adr = t.NewSegment("ADR");
  EXPECT_TRUE(t.SetValue(adr, "", 0, "X001", 1, "001"));
  EXPECT_TRUE(t.SetValue(adr, "C001", 1, "X002", 1, "MAIN STREET"));
  EXPECT_FALSE(t.SetValue(adr, "", 0, "X002", 1, "not a key of ADR"));
  EXPECT_FALSE(t.SetValue(adr, "C001", 2, "X002", 1, "second C001"));
  struct {
    const char* comp;
    int cpos;
    const char* elem;
    int epos;
    const char* want;
  } cases[] = {{"", 0, "X001", 1, "001"},      {"C001", 0, "X001", 1, "001"},
               {"C001", -3, "X001", 1, "001"}, {"C001", 1, "X002", 1, "MAIN STREET"},
               {"", 0, "X002", 1, ""},         {"c001", 1, "X002", 1, ""},
               {"", 0, "X001", 2, ""},         {"VERYLONGNAME", 1, "X002", 1, ""}};
  for (const auto& c : cases)
    EXPECT_EQ(t.GetValue(adr, c.comp, c.cpos, c.elem, c.epos), c.want) << c.comp << c.cpos << c.elem << c.epos;
  EXPECT_EQ(t.Qualifier(adr), "001");
  // Repeated edits of one value reuse its storage.
  t.SetQualifier(adr, "002");
  std::size_t before = t.HeapBytes();
  for (int i = 0; i < 1000; ++i) t.SetQualifier(adr, i % 2 ? "003" : "004");
  EXPECT_EQ(t.HeapBytes(), before);
  EXPECT_EQ(t.Qualifier(adr), "003");
}

TEST(Tree, EmptinessFollowsTheDataFlags) {
  SegmentTree t;
  SegmentNode* adr = t.NewSegment("ADR");
  t.SetValue(adr, "", 0, "X001", 1, "001");
  EXPECT_TRUE(t.IsEmpty(adr));
  EXPECT_FALSE(t.AllValuesEmpty(adr));
  t.SetValue(adr, "C001", 1, "X002", 1, "STREET");
  EXPECT_FALSE(t.IsEmpty(adr));
  t.ClearValues(adr);
  EXPECT_TRUE(t.AllValuesEmpty(adr));
  EXPECT_FALSE(t.IsEmpty(t.NewSegment("XGH")));
  SegmentNode* unknown = t.NewSegment("ZZZ");
  EXPECT_EQ(t.Tag(unknown), "ZZZ");
  EXPECT_FALSE(t.SetValue(unknown, "", 0, "X001", 1, "x"));
  EXPECT_TRUE(t.IsEmpty(unknown));
}

class ParsedTree : public ::testing::Test {
 protected:
  Parsed p{kXgh +
           "XEH+05+1'GIS+A+1'RFF+1:2'XRH+1'PTY+003'NME+001+X'XRT+1'XRH+1'ACT+1'XRT+1'XET+05'"
           "XEH+07+1'XET+07'XGT+1'"};
  SegmentTree& t = p.tree;
};

TEST_F(ParsedTree, DocumentOrderBothWays) {
  ASSERT_TRUE(p.Errors().empty());
  EXPECT_EQ(p.Tags(), "XGH XEH GIS RFF PTY NME ACT XET XEH XET XGT");
  std::string back;
  SegmentNode* last = t.First();
  while (last->next) last = last->next;
  for (SegmentNode* n = last; n; n = n->prev) back += std::string(t.Tag(n)) + " ";
  EXPECT_EQ(back, "XGT XET XEH XET ACT NME PTY RFF GIS XEH XGH ");
  EXPECT_EQ(t.First()->prev, nullptr);
}

TEST_F(ParsedTree, NavigationRelatives) {
  SegmentNode *xgh = t.First(), *xeh = FindTag(t, "XEH"), *rff = FindTag(t, "RFF"), *pty = FindTag(t, "PTY"),
              *nme = FindTag(t, "NME"), *act = FindTag(t, "ACT"), *gis = FindTag(t, "GIS");
  EXPECT_EQ(SegmentTree::FirstChild(xgh), xeh);
  EXPECT_EQ(SegmentTree::FirstChild(gis), nullptr);
  EXPECT_EQ(SegmentTree::NextSibling(xgh), FindTag(t, "XGT"));
  EXPECT_EQ(SegmentTree::NextSibling(xeh), FindTag(t, "XET"));
  EXPECT_EQ(SegmentTree::NextSibling(FindTag(t, "XET")), FindTag(t, "XEH", 1));
  EXPECT_EQ(SegmentTree::NextSibling(rff), pty);
  EXPECT_EQ(SegmentTree::NextSibling(nme), nullptr);
  // The preceding node at another level: for ACT that is the last descendant of PTY.
  EXPECT_EQ(SegmentTree::PrecedingOtherLevel(act), nme);
  EXPECT_EQ(SegmentTree::PrecedingOtherLevel(nme), pty);
  EXPECT_EQ(SegmentTree::PrecedingOtherLevel(rff), xeh);
  EXPECT_EQ(SegmentTree::PrecedingOtherLevel(xgh), nullptr);
  EXPECT_EQ(t.FindChildIndex(xeh, "RFF"), 1);
  EXPECT_EQ(t.FindChildIndex(xeh, "PTY"), 2);
  EXPECT_EQ(t.FindChildIndex(xeh, "ACT"), -1);  // the walk stops below PTY
  EXPECT_EQ(t.FindChildIndex(gis, "GIS"), -1);
  EXPECT_FALSE(t.DescendantsEmpty(pty));
  t.ClearValues(nme);
  EXPECT_TRUE(t.DescendantsEmpty(pty));
  EXPECT_TRUE(t.DescendantsEmpty(act));
}

TEST_F(ParsedTree, PlaceChildByTheContentModel) {
  SegmentNode* xeh = FindTag(t, "XEH");
  const char* why = nullptr;
  ASSERT_TRUE(t.PlaceChild(xeh, t.NewSegment("DTM"), &why));
  EXPECT_EQ(ChildTags(t, xeh), "GIS DTM RFF PTY ACT ");
  ASSERT_TRUE(t.PlaceChild(xeh, t.NewSegment("RFF"), &why));  // before the first RFF
  EXPECT_EQ(ChildTags(t, xeh), "GIS DTM RFF RFF PTY ACT ");
  EXPECT_EQ(p.Tags(), "XGH XEH GIS DTM RFF RFF PTY NME ACT XET XEH XET XGT");
  // A child of a childless node is simply appended.
  SegmentNode* gis = FindTag(t, "GIS");
  ASSERT_TRUE(t.PlaceChild(gis, t.NewSegment("ADR"), &why));
  EXPECT_EQ(p.Tags(), "XGH XEH GIS ADR DTM RFF RFF PTY NME ACT XET XEH XET XGT");
  EXPECT_EQ(gis->firstChild->level, 3);

  EXPECT_FALSE(t.PlaceChild(t.First(), t.NewSegment("DTM"), &why));
  EXPECT_STREQ(why, "Rubrique layout not found");
  SegmentNode* bad = FindTag(t, "XEH", 1);
  t.SetValue(bad, "", 0, "X910", 1, "99");
  t.Add(bad, t.NewSegment("GIS"));
  EXPECT_FALSE(t.PlaceChild(bad, t.NewSegment("DTM"), &why));
  EXPECT_STREQ(why, "Ensemble layout not found");
  EXPECT_EQ(ChildTags(t, bad), "GIS ");
}

TEST(Tree, PlaceChildAfterABlockWhenNothingLaterMatches) {
  Parsed p(kXgh + "XEH+01+2'XRH+1'ROD+110'GIS+A+1'XRH+2'DOC+1'XRT+2'XRT+1'XET+01'XGT+1'");
  ASSERT_TRUE(p.Errors().empty());
  SegmentNode* rod = FindTag(p.tree, "ROD");
  const char* why = nullptr;
  ASSERT_TRUE(p.tree.PlaceChild(rod, p.tree.NewSegment("PTY"), &why));
  EXPECT_EQ(ChildTags(p.tree, rod), "GIS DOC PTY ");
  EXPECT_EQ(p.Tags(), "XGH XEH ROD GIS DOC PTY XET XGT");
}

TEST(Tree, DeepClientTreesNeedNoRecursion) {
  SegmentTree t;
  SegmentNode* n = t.NewSegment("XGH");
  t.Add(nullptr, n);
  for (int i = 0; i < 200000; ++i) {
    SegmentNode* c = t.NewSegment("PTY");
    t.Add(n, c);
    n = c;
  }
  t.RebuildOrder();
  int count = 0;
  for (SegmentNode* m = t.First(); m; m = m->next) ++count;
  EXPECT_EQ(count, 200001);
  EXPECT_EQ(n->level, 200000);
}

}  // namespace
}  // namespace kalvix::test

namespace kalvix::test {
namespace {

TEST(Layouts, KeyCountsAndClasses) {
  const char* counts =
      "ACT1R ADR12S ATT5S BIN2S CLS4R COM2S DAM1R DED1R DOC6R DOD5R DPT1R DTM3S EVT5R FND1R FTX6S GEC1R GIS5S ICD4R "
      "IDD4R IFD4S IND4S IPD5S IRD4R ISD4R LIN1R MMD5S MOA10S NME10S PAR2S PAT1R PCD3S PER1R PFN7S PTY13R QRS2R QTY4S "
      "RDT5R RFF3S RLE1R ROD5R RPT13R SRO5R VAL1R XEH15T XET1T XGH8T XGT1T XRH1T XRT1T";
  const Layouts& l = Layouts::Get();
  std::string got;
  for (int i = 0; i < l.Count(); ++i) got += (i ? " " : "") + l.At(i).tag + std::to_string(l.At(i).count) + l.At(i).cls;
  EXPECT_EQ(got, counts);
  const SegmentLayout& pty = l.At(l.IndexOf("PTY"));
  EXPECT_EQ(pty.keys[4], "C0602X0441");
  EXPECT_EQ(pty.elementEnd, (1u << 0) | (1u << 3) | (1u << 6) | (1u << 9) | (1u << 12));
  EXPECT_EQ(pty.initialFlags, (1u << 1) | (1u << 4) | (1u << 7) | (1u << 10));
  EXPECT_EQ(l.At(l.IndexOf("XGH")).initialFlags, 0u);
  ASSERT_NE(l.Ensemble("5,1"), nullptr);
  EXPECT_EQ(l.Ensemble("5,1")->lastBlock, 11);
  EXPECT_EQ(l.Rubrique(l.IndexOf("ADR")), nullptr);
}

// Every key of every layout is found at its slot from its parts, and near misses (other
// positions, a composite dropped or swapped in, two-digit positions, odd lengths) find what a
// comparison of the key texts finds.
TEST(Layouts, FindKeyAgreesWithKeyTexts) {
  const Layouts& l = Layouts::Get();
  auto byText = [](const SegmentLayout& lay, const std::string& key) {
    for (int i = 0; i < lay.count; ++i)
      if (lay.keys[i] == key) return i;
    return -1;
  };
  auto keyOf = [](std::string_view c, int cp, std::string_view e, int ep) {
    std::string k;
    if (!c.empty() && cp > 0) k = std::string(c) + std::to_string(cp);
    return k + std::string(e) + std::to_string(ep);
  };
  int hits = 0;
  for (int li = 0; li < l.Count(); ++li) {
    const SegmentLayout& lay = l.At(li);
    for (int k = 0; k < lay.count; ++k) {
      const std::string& key = lay.keys[k];
      std::string_view c, e = key;
      if (key.size() == 10) {
        c = std::string_view(key).substr(0, 4);
        e = std::string_view(key).substr(5, 4);
      } else {
        e = std::string_view(key).substr(0, key.size() - 1);
      }
      int cp = c.empty() ? 0 : key[4] - '0', ep = key.back() - '0';
      ASSERT_EQ(FindKey(lay, c, cp, e, ep), k) << lay.tag << " " << key;
      ++hits;
      for (int p : {0, 1, 2, 9, 10, 12}) {
        EXPECT_EQ(FindKey(lay, c, cp, e, p), byText(lay, keyOf(c, cp, e, p))) << lay.tag << " " << key << " " << p;
        EXPECT_EQ(FindKey(lay, c, p, e, ep), byText(lay, keyOf(c, p, e, ep))) << lay.tag << " " << key << " " << p;
      }
      EXPECT_EQ(FindKey(lay, "", 0, e, ep), byText(lay, keyOf("", 0, e, ep))) << lay.tag << " " << key;
      EXPECT_EQ(FindKey(lay, "C999", 1, e, ep), -1) << lay.tag << " " << key;
      EXPECT_EQ(FindKey(lay, c, cp, std::string(e) + "0", ep), -1) << lay.tag << " " << key;
      EXPECT_EQ(FindKey(lay, c, cp, e.substr(0, 3), ep), -1) << lay.tag << " " << key;
    }
  }
  EXPECT_GT(hits, 200);
}

// Blocks nest only along the content models, which never lead back to a rubrique already
// open: the grammar's recursion is bounded whatever the input.
TEST(Layouts, ContentModelsHaveNoCycles) {
  const Layouts& l = Layouts::Get();
  std::vector<int> state(static_cast<std::size_t>(l.Count()), 0);
  int deepest = 0;
  std::function<int(int)> depth = [&](int r) -> int {
    EXPECT_NE(state[static_cast<std::size_t>(r)], 1) << "cycle through " << l.At(r).tag;
    if (state[static_cast<std::size_t>(r)]) return 0;
    state[static_cast<std::size_t>(r)] = 1;
    int d = 0;
    for (std::size_t i = 1; i < l.Rubrique(r)->entries.size(); ++i) {
      int e = l.Rubrique(r)->entries[i];
      if (l.At(e).cls == 'R') d = std::max(d, depth(e));
    }
    state[static_cast<std::size_t>(r)] = 0;
    return d + 1;
  };
  for (int i = 0; i < l.Count(); ++i)
    if (l.At(i).cls == 'R') deepest = std::max(deepest, depth(i));
  EXPECT_LT(deepest, 12);
}

}  // namespace
}  // namespace kalvix::test
