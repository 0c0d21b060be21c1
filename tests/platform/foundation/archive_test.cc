// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "platform/foundation/crsp_pair.h"

namespace {

// A small persistent graph node: a value, a name, a non-owning peer and an owned next node.
class Node : public ccPersistent {
 public:
  int value = 0;
  std::string name;
  Node* peer = nullptr;  // not owned
  std::shared_ptr<Node> next;

  static ccPersistent* make() { return new Node; }

 protected:
  void dispatchSerialize(ccArchive& ar) override {
    if (haveVisited(ar, this, sizeof(Node))) return;
    unsigned char version = 0;
    ar || version;
    if (version != 0) throw ccArchive::UnknownVersion("Node", version);
    ccPersistent::dispatchSerialize(ar);
    ar || value;
    ar || name;
    cfArchiveReference(ar, peer);
    ar || next;
    setVisited(ar, this, sizeof(Node));
  }
};

// A derived node, to check that objects come back as their own class.
class Leaf : public Node {
 public:
  double weight = 0.0;
  static ccPersistent* make() { return new Leaf; }

 protected:
  void dispatchSerialize(ccArchive& ar) override {
    if (haveVisited(ar, this, sizeof(Leaf))) return;
    Node::dispatchSerialize(ar);
    ar || weight;
    setVisited(ar, this, sizeof(Leaf));
  }
};

const cc_Instantiator kNodeExemplar(typeid(Node), &Node::make);
const cc_Instantiator kLeafExemplar(typeid(Leaf), &Leaf::make);

using Bytes = std::vector<unsigned char>;

template <class T>
Bytes store(T value) {
  Bytes b;
  ccArchive ar(b, ccArchive::eStoring);
  ar || value;
  return b;
}

template <class T>
T load(const Bytes& bytes) {
  Bytes b = bytes;
  ccArchive ar(b, ccArchive::eLoading);
  T value{};
  ar || value;
  EXPECT_EQ(ar.remaining(), 0u) << "bytes left unread";
  return value;
}

template <class T>
T roundTrip(T value) {
  return load<T>(store(value));
}

// Bit-exact equality, so that NaN payloads and signed zeros count.
template <class F>
bool sameBits(F a, F b) {
  return std::memcmp(&a, &b, sizeof(F)) == 0;
}

TEST(Archive, ScalarsRoundTripAtTheirExtremes) {
  EXPECT_EQ(roundTrip(true), true);
  EXPECT_EQ(roundTrip<char>(-128), -128);
  EXPECT_EQ(roundTrip<signed char>(-7), -7);
  EXPECT_EQ(roundTrip<unsigned char>(255), 255);
  EXPECT_EQ(roundTrip<short>(std::numeric_limits<short>::min()), std::numeric_limits<short>::min());
  EXPECT_EQ(roundTrip<unsigned short>(65535), 65535);
  EXPECT_EQ(roundTrip<int>(std::numeric_limits<int>::min()), std::numeric_limits<int>::min());
  EXPECT_EQ(roundTrip<unsigned int>(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(roundTrip<long>(-2147483648L), -2147483648L);
  EXPECT_EQ(roundTrip<unsigned long>(0xFFFFFFFFul), 0xFFFFFFFFul);
  EXPECT_EQ(roundTrip<long long>(std::numeric_limits<long long>::min()),
            std::numeric_limits<long long>::min());
  EXPECT_EQ(roundTrip<unsigned long long>(~0ull), ~0ull);
  for (float f :
       {-0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_TRUE(sameBits(roundTrip(f), f)) << f;
  }
  for (double d :
       {-0.0, 0.1, std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(sameBits(roundTrip(d), d)) << d;
  }
  EXPECT_EQ(roundTrip(ccRadian(-1.25)), ccRadian(-1.25));
  EXPECT_EQ(roundTrip(std::string("a\0b\xC3\xA9", 5)), std::string("a\0b\xC3\xA9", 5));
  EXPECT_EQ(roundTrip(std::wstring(L"\u00B5m \U0001F600")), std::wstring(L"\u00B5m \U0001F600"));
  EXPECT_EQ(roundTrip(std::string()), std::string());

  // The encoding is little-endian, whatever the host.
  EXPECT_EQ(store<int>(0x01020304), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(store<long>(-1), (Bytes{255, 255, 255, 255}));
}

TEST(Archive, ValuesThatTheFormatCannotHoldAreRefusedWhenStored) {
  if (sizeof(long) > 4) {
    EXPECT_THROW(store<long>(1L << 40), ccArchive::BadData);
    EXPECT_THROW(store<unsigned long>(1UL << 32), ccArchive::BadData);
  }
  EXPECT_THROW(store(std::wstring(1, static_cast<wchar_t>(0x110000))), ccArchive::BadData);
}

TEST(Archive, GeometryAndContainersRoundTrip) {
  ccVector<2> v(1.5, -2.25);
  EXPECT_EQ(roundTrip(v), v);
  ccMatrix<2> m(1, 2, 3, 4);
  EXPECT_EQ(roundTrip(m), m);
  ccXform<2> x(ccVector<2>(3, -4), 2.0, 0.5, ccRadian(0.1), ccRadian(0.7));
  EXPECT_EQ(roundTrip(x), x);
  ccPair<ccVector<2>> p(ccVector<2>(1, 2), ccVector<2>(3, 4));
  EXPECT_EQ(roundTrip(p), p);

  // The weighted pair keeps its weight (a plain pair operator would drop it).
  ccCrspPairWeighted w(ccVector<2>(1, 2), ccVector<2>(3, 4), 0.25);
  EXPECT_EQ(roundTrip(w), w);
  EXPECT_EQ(ccCrspPairWeighted(p).weight(), 1.0);

  std::vector<double> doubles{1.0, -2.0, 1e300};
  EXPECT_EQ(roundTrip(doubles), doubles);
  std::vector<bool> bools{true, false, true};
  EXPECT_EQ(roundTrip(bools), bools);
  std::vector<std::string> strings{"", "x", "yz"};
  EXPECT_EQ(roundTrip(strings), strings);
  std::vector<std::vector<int>> nested{{}, {1}, {2, 3}};
  EXPECT_EQ(roundTrip(nested), nested);
  EXPECT_TRUE(roundTrip(std::vector<ccCrspPairWeighted>()).empty());
}

TEST(Archive, FileRoundTripAndFileErrors) {
  std::string path =
      ::testing::TempDir() + "ccalib_archive_test_" + std::to_string(::getpid()) + ".bin";
  {
    ccArchive ar(path, ccArchive::eStoring);
    std::vector<double> v{1, 2, 3};
    std::wstring s = L"file";
    ar || v;
    ar || s;
    ar.flush();
  }
  {
    ccArchive ar(path, ccArchive::eLoading);
    std::vector<double> v;
    std::wstring s;
    ar || v;
    ar || s;
    EXPECT_EQ(v, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(s, L"file");
    EXPECT_EQ(ar.remaining(), 0u);
    EXPECT_THROW(ar || s, ccArchive::Truncated);
  }
  std::remove(path.c_str());
  EXPECT_THROW(ccArchive(path, ccArchive::eLoading), ccArchive::FileError);
  EXPECT_THROW(ccArchive("/nonexistent-dir/x.bin", ccArchive::eStoring), ccArchive::FileError);
  EXPECT_THROW(ccArchive(::testing::TempDir(), ccArchive::eLoading), ccArchive::FileError);
}

TEST(Persistent, ObjectsByReferenceRawPointerAndSharedHandle) {
  Node n;
  n.value = 7;
  n.name = "seven";
  Bytes b;
  {
    ccArchive ar(b, ccArchive::eStoring);
    ar || n;
  }
  Node back;
  {
    ccArchive ar(b, ccArchive::eLoading);
    ar || back;
  }
  EXPECT_EQ(back.value, 7);
  EXPECT_EQ(back.name, "seven");
  EXPECT_EQ(back.next, nullptr);
  EXPECT_EQ(back.peer, nullptr);

  // Polymorphic by raw base pointer: re-created as a Leaf.
  Leaf leaf;
  leaf.value = 3;
  leaf.weight = 0.5;
  ccPersistent* asBase = &leaf;
  ccPersistent* loaded = load<ccPersistent*>(store(asBase));
  std::unique_ptr<ccPersistent> owner(loaded);
  Leaf* asLeaf = dynamic_cast<Leaf*>(loaded);
  ASSERT_NE(asLeaf, nullptr) << "re-created as " << loaded->persistentTypeName();
  EXPECT_EQ(asLeaf->value, 3);
  EXPECT_EQ(asLeaf->weight, 0.5);

  // By shared handle, and null handles and pointers.
  std::shared_ptr<Node> shared = std::make_shared<Leaf>();
  shared->name = "shared";
  std::shared_ptr<Node> sharedBack = roundTrip(shared);
  ASSERT_NE(dynamic_cast<Leaf*>(sharedBack.get()), nullptr);
  EXPECT_EQ(sharedBack->name, "shared");
  EXPECT_EQ(roundTrip(std::shared_ptr<Node>()), nullptr);
  EXPECT_EQ(roundTrip(static_cast<Node*>(nullptr)), nullptr);
  // Loading in place over a value that was there before replaces all of it.
  Node reused;
  reused.next = std::make_shared<Node>();
  reused.loadSimple(*std::make_unique<ccArchive>(b, ccArchive::eLoading));
  EXPECT_EQ(reused.next, nullptr);
}

TEST(Persistent, BackReferencesComeBackAsTheSameObjects) {
  // a -> b -> c through owned links, c's peer points back at a, and the list holds all three:
  // every object is nested in the one before, so storing and loading order differ.
  auto a = std::make_shared<Node>(), b = std::make_shared<Node>();
  auto c = std::make_shared<Leaf>();
  a->value = 1, b->value = 2, c->value = 3;
  a->next = b;
  b->next = c;
  c->peer = a.get();
  std::vector<std::shared_ptr<Node>> list{a, b, c, c};

  std::vector<std::shared_ptr<Node>> back = roundTrip(list);
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[0]->value, 1);
  EXPECT_EQ(back[1]->value, 2);
  EXPECT_EQ(back[2]->value, 3);
  EXPECT_EQ(back[0]->next, back[1]);
  EXPECT_EQ(back[1]->next, back[2]);
  EXPECT_EQ(back[2], back[3]);
  EXPECT_EQ(back[2]->peer, back[0].get());
  back[2]->peer = nullptr;
  a->next.reset();
  b->next.reset();

  // A node that refers to itself through its peer link.
  Node* self = new Node;
  self->peer = self;
  std::unique_ptr<Node> selfBack(roundTrip(self));
  delete self;
  EXPECT_EQ(selfBack->peer, selfBack.get());
  // A peer link is no owner: it cannot name an object stored nowhere else.
  Node lonely, stranger;
  lonely.peer = &stranger;
  EXPECT_THROW(store<Node&>(lonely), ccArchive::BadData);
}

TEST(Persistent, LoadSimpleTwiceIntoOneObjectReadsBothValues) {
  Node first, second, target;
  first.value = 1;
  second.value = 2;
  Bytes b;
  {
    ccArchive ar(b, ccArchive::eStoring);
    ar || first;
    ar || second;
  }
  ccArchive ar(b, ccArchive::eLoading);
  target.loadSimple(ar);
  EXPECT_EQ(target.value, 1);
  target.loadSimple(ar);
  EXPECT_EQ(target.value, 2);
  EXPECT_EQ(ar.remaining(), 0u);
}

TEST(Persistent, ObjectOfTheWrongClassIsBadDataAndNothingLeaks) {
  auto plain = std::make_shared<Node>();
  Bytes b;
  {
    ccArchive ar(b, ccArchive::eStoring);
    ccArchive::Pass pass(ar);
    ar || plain;
    ar || plain;  // a back reference
  }
  {
    // A new object of the wrong class.
    ccArchive ar(b, ccArchive::eLoading);
    std::shared_ptr<Leaf> leaf;
    EXPECT_THROW(ar || leaf, ccArchive::BadData);
  }
  {
    // A back reference to an object of the wrong class: refused, and the object (owned by
    // the first handle) is not deleted twice.
    ccArchive ar(b, ccArchive::eLoading);
    ccArchive::Pass pass(ar);
    std::shared_ptr<Node> node;
    ar || node;
    std::shared_ptr<Leaf> leaf;
    EXPECT_THROW(ar || leaf, ccArchive::BadData);
    EXPECT_NE(node, nullptr);
  }
  // Shared handles that own each other in a cycle could never be freed.
  auto looped = std::make_shared<Node>();
  looped->next = looped;
  EXPECT_THROW(store(looped), ccArchive::BadData);
  looped->next.reset();
  // An object stored by raw pointer and then by shared handle could not be owned by both.
  Node raw;
  std::shared_ptr<Node> alias(&raw, [](Node*) {});
  Bytes c;
  ccArchive ar(c, ccArchive::eStoring);
  ccArchive::Pass pass(ar);
  Node* rawPtr = &raw;
  ar || rawPtr;
  EXPECT_THROW(ar || alias, ccArchive::BadData);
}

TEST(Persistent, UnknownVersionByteIsRefused) {
  Node n;
  Bytes b = store<Node&>(n);
  for (std::size_t at : {0u, 1u}) {  // Node's version, then the persistent base's
    Bytes bad = b;
    bad[at] = 1;
    ccArchive ar(bad, ccArchive::eLoading);
    Node target;
    EXPECT_THROW(ar || target, ccArchive::UnknownVersion) << "version byte " << at;
  }
}

// Loads `bytes` as a vector of node handles; true when it worked. Anything other than the
// archive's own typed exceptions fails the test.
bool loadNodes(Bytes bytes) {
  try {
    ccArchive ar(bytes, ccArchive::eLoading);
    std::vector<std::shared_ptr<Node>> nodes;
    ar || nodes;
    for (auto& n : nodes) {
      if (n) n->peer = nullptr;
    }
    return true;
  } catch (const ccArchive::Truncated&) {
  } catch (const ccArchive::BadData&) {
  } catch (const ccArchive::UnknownType&) {
  } catch (const ccArchive::UnknownVersion&) {
  }
  return false;
}

Bytes sampleNodes() {
  auto a = std::make_shared<Node>();
  auto b = std::make_shared<Leaf>();
  a->name = "first";
  a->next = b;
  b->peer = a.get();
  Bytes out = store(std::vector<std::shared_ptr<Node>>{a, b, nullptr});
  a->next.reset();
  return out;
}

TEST(ArchiveHostile, TruncationAtEveryBytePositionThrowsTyped) {
  Bytes whole = sampleNodes();
  ASSERT_TRUE(loadNodes(whole));
  for (std::size_t n = 0; n < whole.size(); ++n) {
    Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    try {
      ccArchive ar(cut, ccArchive::eLoading);
      std::vector<std::shared_ptr<Node>> nodes;
      ar || nodes;
      ADD_FAILURE() << "no failure when cut to " << n << " of " << whole.size() << " bytes";
    } catch (const ccArchive::Truncated&) {
    } catch (const ccArchive::BadData&) {  // a count beyond the bytes left
    } catch (const ccException& e) {
      ADD_FAILURE() << "cut to " << n << " bytes: " << e.persistentTypeName() << ": "
                    << e.messageUtf8();
    }
  }
}

TEST(ArchiveHostile, CorruptCountsTagsNamesAndReferencesThrowTyped) {
  Bytes good = sampleNodes();
  auto patched = [&](std::size_t at, std::initializer_list<unsigned char> bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  auto expectThrow = [](Bytes b, auto exceptionTag, const char* what) {
    using E = decltype(exceptionTag);
    ccArchive ar(b, ccArchive::eLoading);
    std::vector<std::shared_ptr<Node>> nodes;
    EXPECT_THROW(ar || nodes, E) << what;
  };
  // Layout: count (4), tag (1), class name length (4), name, ...
  expectThrow(patched(0, {0xFF, 0xFF, 0xFF, 0xFF}), ccArchive::BadData(), "count of four billion");
  expectThrow(patched(4, {7}), ccArchive::BadData(), "invalid tag");
  expectThrow(patched(4, {2, 9, 0, 0, 0}), ccArchive::BadData(),
              "reference to an object not yet read");
  expectThrow(patched(5, {0, 0, 0, 0}), ccArchive::BadData(), "empty class name");
  expectThrow(patched(5, {0xFF, 0xFF, 0xFF, 0x7F}), ccArchive::BadData(), "huge class name");
  expectThrow(patched(9, {'X'}), ccArchive::UnknownType(""), "unknown class name");

  // A string count that fits the bytes left but not as strings of 4-byte counts each.
  Bytes strings = store(std::vector<std::string>{"a", "b"});
  strings[0] = static_cast<unsigned char>(strings.size() - 4);
  {
    ccArchive ar(strings, ccArchive::eLoading);
    std::vector<std::string> loaded;
    EXPECT_THROW(ar || loaded, ccArchive::Truncated);
  }

  // A node whose owning next link refers back to itself: an ownership cycle.
  auto selfPeer = std::make_shared<Node>();
  selfPeer->peer = selfPeer.get();
  Bytes cyclic = store(selfPeer);
  ASSERT_EQ(cyclic.back(), 0) << "the next link is stored last";
  cyclic.back() = 2;  // a reference to object 0, the node itself
  cyclic.insert(cyclic.end(), {0, 0, 0, 0});
  {
    ccArchive ar(cyclic, ccArchive::eLoading);
    std::shared_ptr<Node> node;
    EXPECT_THROW(ar || node, ccArchive::BadData);
  }

  // A chain nested deeper than the archive accepts: the shape of a node whose next link
  // holds another node, repeated.
  Bytes one = store(std::make_shared<Node>());
  ASSERT_EQ(one.back(), 0) << "the next link is stored last";
  Bytes deep;
  for (int i = 0; i <= ccArchive::kMaxNesting; ++i)
    deep.insert(deep.end(), one.begin(), one.end() - 1);
  deep.push_back(0);
  ccArchive ar(deep, ccArchive::eLoading);
  std::shared_ptr<Node> chain;
  EXPECT_THROW(ar || chain, ccArchive::BadData);
}

TEST(ArchiveHostile, RandomlyCorruptedStreamsNeverCrash) {
  Bytes good = sampleNodes();
  std::mt19937 rng(12345);
  constexpr int kTrials = 3000;
  int loaded = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    Bytes b = good;
    int flips = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < flips; ++k) b[rng() % b.size()] = static_cast<unsigned char>(rng());
    loaded += loadNodes(b) ? 1 : 0;
  }
  EXPECT_LT(loaded, kTrials) << "corruption went unnoticed every time";
}

}  // namespace
