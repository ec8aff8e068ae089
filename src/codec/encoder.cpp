// The in-memory encoder of saverpack: the cheapest stream by bit count, for one or several
// literal codings and dictionary sizes at once.
//
// The format's codes are fixed, so every token's cost in bits is known before anything is
// written, and the smallest stream is a shortest path over input positions: from each position,
// a literal, or a copy of any length the match finder offers there. The match finder gives, per
// position, the nearest earlier occurrence for each copy length (a "frontier": lengths and
// distances both rising). As a distance's cost never falls when the distance grows, the nearest
// occurrence of a length is also its cheapest, so the frontier is all the parse needs.
//
// Input is parsed in blocks; a copy does not cross a block's end. The matches of a block are
// found once and shared by every coding and dictionary asked for: a smaller dictionary only
// drops the frontier's far end.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

#include "dcl.h"
#include "dcl_tables.h"

namespace dcl {
namespace {

constexpr unsigned kMaxDict = 4096;
constexpr unsigned kBlock = 1u << 16;        // positions parsed at a time
constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kInfinite = std::numeric_limits<uint32_t>::max();

struct LevelSettings {
  unsigned maxChain;     // candidates looked at per position
  unsigned niceLength;   // a copy this long is taken at once, and ends the search
  bool tree;             // search a binary tree instead of a hash chain
  bool everyDistance;    // compare every distance of the window, no hashing
  unsigned lazyBelow;    // fast level: a copy shorter than this is weighed against the next one
  unsigned enterWithin;  // fast level: a copy up to this long enters its positions in the finder
};

LevelSettings SettingsOf(Level level) {
  switch (level) {
    case Level::Fast: return {8, 32, false, false, 16, 32};
    case Level::Best: return {1024, kMaxCopy, true, false, 0, 0};
    case Level::Exact: return {kMaxDict, kMaxCopy + 1, false, true, 0, 0};
  }
  return {};
}

inline unsigned MatchLength(const uint8_t* a, const uint8_t* b, unsigned limit) {
  unsigned n = 0;
#ifdef __wasm_simd128__
  // WebAssembly has no wider scalar than 8 bytes: compare 16 at a time where the browser can.
  while (n + 16 <= limit) {
    const v128_t x = wasm_v128_load(a + n), y = wasm_v128_load(b + n);
    const unsigned differ = ~wasm_i8x16_bitmask(wasm_i8x16_eq(x, y)) & 0xFFFF;
    if (differ) return n + static_cast<unsigned>(std::countr_zero(differ));
    n += 16;
  }
#endif
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<unsigned>(std::countr_zero(x ^ y)) / 8;
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// A frontier entry: length << 16 | distance.
inline uint32_t Pair(unsigned length, unsigned distance) { return length << 16 | distance; }
inline unsigned LengthOf(uint32_t pair) { return pair >> 16; }
inline unsigned DistanceOf(uint32_t pair) { return pair & 0xFFFF; }

// Finds the frontier of each position, in order: Insert every position, Find before inserting it.
//
// Best looks through a binary tree of the window's positions sorted by the bytes that follow
// them, each node older than its parent: the search path for a position passes the nearest
// earlier occurrence of every prefix length, so the frontier comes out exact unless the search
// is cut at maxChain nodes. Fast walks a short hash chain; Exact compares every distance.
class MatchFinder {
 public:
  // The hash tables grow with the input up to 2^16 entries, where byte pairs index their own
  // entry; the chain and tree slots are written before they are read, so they are not cleared.
  MatchFinder(std::span<const uint8_t> data, LevelSettings settings)
      : data_(data), settings_(settings),
        bits_(std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(data.size())) + 1, 8, 16)),
        head3_(size_t{1} << bits_, kNone), last2_(size_t{1} << bits_, kNone),
        slots_(static_cast<uint32_t>(std::min<size_t>(kTreeSize, std::bit_ceil(data.size() | 1)))),
        prev_(new uint32_t[slots_]), tree_(new uint32_t[settings.tree ? 2 * slots_ : 1]) {}

  // Appends the frontier of pos to pairs and enters pos; returns the longest length found.
  unsigned FindAndInsert(uint32_t pos, std::vector<uint32_t>& pairs) {
    unsigned best = FindPair(pos, pairs);
    if (Limit(pos) < 3) {
      InsertPair(pos);
      return best;
    }
    if (settings_.tree) {
      best = SearchTree(pos, best, pairs);
    } else {
      if (settings_.everyDistance) best = FindEvery(pos, best, pairs);
      else best = FindHashed(pos, best, pairs);
      InsertChain(pos);
    }
    InsertPair(pos);
    return best;
  }

  // Enters a position that is not searched (inside a copy the fast level takes), in the hash
  // chains; the tree levels search every position.
  void InsertOnly(uint32_t pos) {
    if (Limit(pos) >= 3) InsertChain(pos);
    InsertPair(pos);
  }

 private:
  // Chain and tree slots kept: one per position of the window and as many again (a node is read
  // only within the window), or one per position of a smaller input.
  static constexpr uint32_t kTreeSize = 2 * kMaxDict;

  unsigned Limit(uint32_t pos) const {
    const size_t left = data_.size() - pos;
    return left < kMaxCopy ? static_cast<unsigned>(left) : kMaxCopy;
  }

  unsigned Hash3(const uint8_t* p) const {
    const uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
    return (v * 2654435761u) >> (32 - bits_);
  }

  unsigned PairSlot(const uint8_t* p) const {
    const uint32_t v = p[0] | p[1] << 8;
    return bits_ == 16 ? v : (v * 2654435761u) >> (32 - bits_);
  }

  void InsertPair(uint32_t pos) {
    if (pos + 2 > data_.size()) return;
    last2_[PairSlot(data_.data() + pos)] = pos;
  }

  void InsertChain(uint32_t pos) {
    uint32_t& head = head3_[Hash3(data_.data() + pos)];
    prev_[pos & (slots_ - 1)] = head;
    head = pos;
  }

  // A copy of 2 is codable at up to 256 bytes back; the nearest pair is its cheapest.
  unsigned FindPair(uint32_t pos, std::vector<uint32_t>& pairs) const {
    if (Limit(pos) < 2) return 0;
    const uint8_t* p = data_.data() + pos;
    const uint32_t at = last2_[PairSlot(p)];
    if (at == kNone || pos - at > 256 || data_[at] != p[0] || data_[at + 1] != p[1]) return 0;
    pairs.push_back(Pair(2, pos - at));
    return 2;
  }

  // Searches the tree for pos and puts pos at its root: the nodes passed are split into those
  // that sort before pos (its left subtree) and after it (its right subtree).
  unsigned SearchTree(uint32_t pos, unsigned best, std::vector<uint32_t>& pairs) {
    const unsigned limit = Limit(pos);
    const uint8_t* here = data_.data() + pos;
    uint32_t& head = head3_[Hash3(here)];
    uint32_t candidate = head;
    head = pos;
    uint32_t* left = &tree_[2 * (pos & (slots_ - 1))];
    uint32_t* right = left + 1;
    unsigned leftLength = 0, rightLength = 0;  // prefix shared with pos on either side
    for (unsigned depth = settings_.maxChain;; --depth) {
      if (candidate == kNone || depth == 0 || pos - candidate > kMaxDict) {
        *left = *right = kNone;
        return best;
      }
      uint32_t* node = &tree_[2 * (candidate & (slots_ - 1))];
      const uint8_t* there = data_.data() + candidate;
      unsigned length = std::min(leftLength, rightLength);
      length += MatchLength(there + length, here + length, limit - length);
      if (length > best && length >= 3) {
        best = length;
        pairs.push_back(Pair(length, pos - candidate));
      }
      if (length == limit) {  // pos takes the candidate's place, and its subtrees
        *left = node[0];
        *right = node[1];
        return best;
      }
      if (there[length] < here[length]) {
        *left = candidate;
        left = &node[1];
        candidate = *left;
        leftLength = length;
      } else {
        *right = candidate;
        right = &node[0];
        candidate = *right;
        rightLength = length;
      }
    }
  }

  unsigned FindHashed(uint32_t pos, unsigned best, std::vector<uint32_t>& pairs) const {
    const unsigned limit = Limit(pos);
    const uint8_t* here = data_.data() + pos;
    uint32_t candidate = head3_[Hash3(here)];
    for (unsigned chain = settings_.maxChain; chain && candidate != kNone; --chain) {
      const uint32_t distance = pos - candidate;
      if (distance > kMaxDict) break;
      const uint8_t* there = data_.data() + candidate;
      if (there[best] == here[best]) {
        const unsigned length = MatchLength(there, here, limit);
        if (length > best && length >= 3) {
          pairs.push_back(Pair(length, distance));
          best = length;
          if (length >= settings_.niceLength || length == limit) break;
        }
      }
      candidate = prev_[candidate & (slots_ - 1)];
    }
    return best;
  }

  unsigned FindEvery(uint32_t pos, unsigned best, std::vector<uint32_t>& pairs) const {
    const unsigned limit = Limit(pos);
    const uint8_t* here = data_.data() + pos;
    const uint32_t furthest = std::min<uint32_t>(pos, kMaxDict);
    for (uint32_t distance = 1; distance <= furthest && best < limit; ++distance) {
      const unsigned length = MatchLength(here - distance, here, limit);
      if (length > best && length >= 3) {
        pairs.push_back(Pair(length, distance));
        best = length;
      }
    }
    return best;
  }

  std::span<const uint8_t> data_;
  LevelSettings settings_;
  unsigned bits_;                     // of the hash tables' indices
  std::vector<uint32_t> head3_;       // newest position of each 3-byte hash
  std::vector<uint32_t> last2_;       // newest position of each byte pair (or pair hash)
  uint32_t slots_;                    // chain and tree slots, a power of two
  std::unique_ptr<uint32_t[]> prev_;  // hash chains: the position before, by position % slots_
  std::unique_ptr<uint32_t[]> tree_;  // tree nodes: left and right child of each position
};

class BitWriter {
 public:
  void Reserve(size_t bytes) { out_.reserve(bytes); }
  void Put(uint32_t value, unsigned count) {
    bits_ |= uint64_t{value} << count_;
    count_ += count;
    if (count_ >= 32) {
      // A word at a time into room made ahead, not an insert call per word.
      if (out_.size() - used_ < 4) Grow();
      uint8_t* at = out_.data() + used_;
      at[0] = uint8_t(bits_);
      at[1] = uint8_t(bits_ >> 8);
      at[2] = uint8_t(bits_ >> 16);
      at[3] = uint8_t(bits_ >> 24);
      used_ += 4;
      bits_ >>= 32;
      count_ -= 32;
    }
  }
  std::vector<uint8_t> Finish() {
    out_.resize(used_);
    for (; count_ > 0; count_ = count_ > 8 ? count_ - 8 : 0) {
      out_.push_back(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
    }
    bits_ = 0;
    used_ = 0;
    return std::move(out_);
  }

 private:
  [[gnu::noinline]] void Grow() { out_.resize(std::max<size_t>(2 * out_.size(), 1024)); }

  std::vector<uint8_t> out_;  // the stream so far in its first used_ bytes
  size_t used_ = 0;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
};

// One coding and dictionary: its costs, its parse of each block and its stream.
class Parse {
 public:
  Parse(unsigned type, unsigned dict, const LevelSettings& settings, size_t inputSize)
      : type_(type), dict_(dict), dictBits_(std::countr_zero(dict) - 6),
        nice_(settings.niceLength) {
    out_.Reserve(inputSize / 2 + 64);
    for (unsigned b = 0; b < 256; ++b)
      literalCost_[b] = type == CMP_ASCII ? 1u + gTables.literal.length[b] : 9u;
    for (unsigned length = kMinCopy; length <= kMaxCopy; ++length)
      lengthCost_[length] = gTables.lengthEncoding[length] >> 24;
    out_.Put(type, 8);
    out_.Put(dictBits_, 8);
  }

  // The block's cheapest parse, given the frontier of each of its positions, and its tokens.
  void Block(const uint8_t* data, unsigned size, const std::vector<uint32_t>& pairs,
             const std::vector<uint32_t>& first) {
    cost_.assign(size + 1, kInfinite);
    choice_.resize(size + 1);
    cost_[0] = 0;
    for (unsigned at = 0; at < size;) {
      Relax(at, 1, 0, cost_[at] + literalCost_[data[at]]);
      const unsigned longest =
          RelaxCopies(at, size - at, pairs.data() + first[at], pairs.data() + first[at + 1]);
      at += longest >= nice_ ? longest : 1;
    }
    Emit(data, size);
  }

  // Costs and output for a parse made elsewhere, token by token.
  unsigned LiteralCost(uint8_t byte) const { return literalCost_[byte]; }
  unsigned CopyCost(unsigned length, unsigned distance) const {
    return lengthCost_[length] + DistanceCost(length, distance);
  }
  bool Codable(unsigned length, unsigned distance) const {
    return distance <= (length == 2 ? 256u : dict_);
  }
  void PutToken(const uint8_t* at, unsigned length, unsigned distance) {
    if (length == 1) PutLiteral(*at); else PutCopy(length, distance);
  }

  std::vector<uint8_t> Finish() {
    const uint32_t end = gTables.lengthEncoding[kEndCode];
    out_.Put(end & 0xFFFFFF, end >> 24);
    return out_.Finish();
  }
  unsigned Type() const { return type_; }
  unsigned Dict() const { return dict_; }

 private:
  unsigned DistanceCost(unsigned length, unsigned distance) const {
    const unsigned low = length == 2 ? 2 : dictBits_;
    return gTables.distance.length[(distance - 1) >> low] + low;
  }

  void Relax(unsigned at, unsigned length, unsigned distance, uint32_t cost) {
    if (cost < cost_[at + length]) {
      cost_[at + length] = cost;
      choice_[at + length] = Pair(length, distance);
    }
  }

  // Every copy length from this position; returns the longest codable one.
  unsigned RelaxCopies(unsigned at, unsigned room, const uint32_t* pair, const uint32_t* end) {
    unsigned shorter = 1;  // lengths up to this are done
    for (; pair != end; ++pair) {
      const unsigned distance = DistanceOf(*pair);
      if (distance > dict_) break;
      const unsigned length = std::min(LengthOf(*pair), room);
      if (shorter < 2 && length >= 2 && Codable(2, distance))
        Relax(at, 2, distance, cost_[at] + CopyCost(2, distance));
      shorter = std::max(shorter, 2u);
      const uint32_t base = cost_[at] + DistanceCost(3, distance);
      uint32_t* cost = cost_.data() + at;
      for (unsigned l = shorter + 1; l <= length; ++l) {
        const uint32_t offered = base + lengthCost_[l];
        if (offered < cost[l]) {
          cost[l] = offered;
          choice_[at + l] = Pair(l, distance);
        }
      }
      shorter = std::max(shorter, length);
      if (length == room) break;
    }
    return shorter;
  }

  void Emit(const uint8_t* data, unsigned size) {
    tokens_.clear();
    for (unsigned at = size; at > 0; at -= LengthOf(choice_[at])) tokens_.push_back(choice_[at]);
    unsigned pos = 0;
    for (auto token = tokens_.rbegin(); token != tokens_.rend(); ++token) {
      PutToken(data + pos, LengthOf(*token), DistanceOf(*token));
      pos += LengthOf(*token);
    }
  }

  void PutLiteral(uint8_t byte) {
    if (type_ == CMP_ASCII)
      out_.Put(uint32_t{gTables.literal.bits[byte]} << 1, 1u + gTables.literal.length[byte]);
    else
      out_.Put(uint32_t{byte} << 1, 9);
  }

  void PutCopy(unsigned length, unsigned distance) {
    const uint32_t entry = gTables.lengthEncoding[length];
    out_.Put(entry & 0xFFFFFF, entry >> 24);
    const unsigned low = length == 2 ? 2 : dictBits_;
    const unsigned symbol = (distance - 1) >> low;
    const unsigned lowValue = (distance - 1) & ((1u << low) - 1);
    out_.Put(gTables.distance.bits[symbol] | lowValue << gTables.distance.length[symbol],
             gTables.distance.length[symbol] + low);
  }

  unsigned type_, dict_, dictBits_, nice_;
  unsigned literalCost_[256];
  unsigned lengthCost_[kMaxCopy + 1] = {};
  std::vector<uint32_t> cost_;    // fewest bits to reach each position of the block
  std::vector<uint32_t> choice_;  // the token that reaches it so: length << 16 | distance
  std::vector<uint32_t> tokens_;
  BitWriter out_;
};

// Best and Exact: the matches of each block are found once, at every position, and shared by
// every coding asked for.
std::vector<Parse> ParseShared(std::span<const uint8_t> data, const LevelSettings& settings,
                               std::span<const std::pair<unsigned, unsigned>> codings) {
  std::vector<Parse> parses;
  for (auto [type, dict] : codings) parses.emplace_back(type, dict, settings, data.size());
  MatchFinder finder(data, settings);
  std::vector<uint32_t> pairs, first;
  for (size_t begin = 0; begin < data.size(); begin += kBlock) {
    const auto size = static_cast<unsigned>(std::min<size_t>(kBlock, data.size() - begin));
    pairs.clear();
    first.assign(1, 0);
    for (uint32_t pos = static_cast<uint32_t>(begin); pos < begin + size; ++pos) {
      finder.FindAndInsert(pos, pairs);
      first.push_back(static_cast<uint32_t>(pairs.size()));
    }
    for (Parse& parse : parses) parse.Block(data.data() + begin, size, pairs, first);
  }
  return parses;
}

// Fast: each coding parses on its own, greedily with one step of lazy evaluation, searching
// only where a token starts. A copy is judged by the bits it saves over literals.
struct Choice {
  unsigned length = 1;
  unsigned distance = 0;
  int saving = 0;  // literal bits of the bytes covered, less the copy's bits
};

Parse ParseAlone(std::span<const uint8_t> data, const LevelSettings& settings, unsigned type,
                 unsigned dict) {
  Parse parse(type, dict, settings, data.size());
  MatchFinder finder(data, settings);
  std::vector<uint32_t> pairs;
  const auto choose = [&](uint32_t pos) {
    pairs.clear();
    finder.FindAndInsert(pos, pairs);
    Choice best;
    int literals = 0;
    unsigned counted = 0;
    for (uint32_t pair : pairs) {
      const unsigned length = LengthOf(pair), distance = DistanceOf(pair);
      if (!parse.Codable(length, distance)) continue;
      for (; counted < length; ++counted) literals += int(parse.LiteralCost(data[pos + counted]));
      const int saving = literals - int(parse.CopyCost(length, distance));
      if (saving > best.saving) best = {length, distance, saving};
    }
    return best;
  };
  const auto size = static_cast<uint32_t>(data.size());
  uint32_t pos = 0;
  Choice here = size ? choose(0) : Choice{};
  while (pos < size) {
    uint32_t searched = pos;  // positions up to this are in the finder
    if (here.length > 1 && here.length < settings.lazyBelow && pos + 1 < size) {
      const Choice next = choose(++searched);
      if (next.saving - int(parse.LiteralCost(data[pos])) > here.saving) {
        parse.PutToken(data.data() + pos, 1, 0);
        ++pos;
        here = next;
        continue;
      }
    }
    parse.PutToken(data.data() + pos, here.length, here.distance);
    if (here.length <= settings.enterWithin)
      for (uint32_t at = searched + 1; at < pos + here.length; ++at) finder.InsertOnly(at);
    pos += here.length;
    here = pos < size ? choose(pos) : Choice{};
  }
  return parse;
}

std::vector<Parse> ParseAll(std::span<const uint8_t> data, Level level,
                            std::span<const std::pair<unsigned, unsigned>> codings) {
  const LevelSettings settings = SettingsOf(level);
  if (level != Level::Fast) return ParseShared(data, settings, codings);
  std::vector<Parse> parses;
  for (auto [type, dict] : codings) parses.push_back(ParseAlone(data, settings, type, dict));
  return parses;
}

void CheckCoding(unsigned type, unsigned dict) {
  if (dict != 1024 && dict != 2048 && dict != 4096)
    throw std::invalid_argument(ResultText(CMP_INVALID_DICTSIZE));
  if (type != CMP_BINARY && type != CMP_ASCII)
    throw std::invalid_argument(ResultText(CMP_INVALID_MODE));
}

}  // namespace

std::vector<uint8_t> Implode(std::span<const uint8_t> data, unsigned type, unsigned dictSize,
                             Level level) {
  CheckCoding(type, dictSize);
  const std::pair<unsigned, unsigned> coding[] = {{type, dictSize}};
  return ParseAll(data, level, coding)[0].Finish();
}

Stream ImplodeSmallest(std::span<const uint8_t> data, Level level) {
  const std::pair<unsigned, unsigned> codings[] = {
      {CMP_BINARY, 4096}, {CMP_BINARY, 2048}, {CMP_BINARY, 1024},
      {CMP_ASCII, 4096},  {CMP_ASCII, 2048},  {CMP_ASCII, 1024}};
  Stream best;
  for (Parse& parse : ParseAll(data, level, codings)) {
    auto bytes = parse.Finish();
    if (best.bytes.empty() || bytes.size() < best.bytes.size())
      best = {std::move(bytes), parse.Type(), parse.Dict()};
  }
  return best;
}

}  // namespace dcl
