// The list filters' regular expressions: compiler and matcher.
//
// A pattern is compiled into a program of 16-bit units that starts with the
// magic unit 156. Every node is three units, its operation code and the
// distance to the next node split into a high and a low byte (0 = no next
// node); the distance points backwards for BACK and forwards for all other
// nodes. Operands follow their node: a zero-terminated string for EXACTLY,
// a zero-terminated character set for ANYOF and ANYBUT, the repeated node
// for STAR and PLUS. The program is a graph: alternatives are chains of
// BRANCH nodes whose operands run on to a common tail, loops are BACK nodes
// pointing at the BRANCH that starts them.
//
// The compiler is a recursive-descent parser (expression, branch, piece,
// atom) that runs twice over the pattern: the first pass emits nothing and
// only adds up the size, so that the program can be held in one block of
// exactly that size and the size limit (below 32767 units, so that every
// distance fits its two bytes) is known before anything is written; the
// second pass emits. A repetition of a one-character atom becomes a STAR or
// PLUS node inserted in front of it; a repetition of anything wider is
// built from BRANCH, BACK and NOTHING nodes:
//   x*  BRANCH(x BACK->loop) BRANCH(NOTHING)
//   x+  x BRANCH(BACK->x) BRANCH(NOTHING)
//   x?  BRANCH(x) BRANCH(NOTHING)
// A run of plain characters is one EXACTLY node, except that a repetition
// operator after a run of two or more takes the last character alone (in
// "abc*" the star applies to c). Each sub-expression reports three
// properties as flags: it cannot match the empty string (1), it is one
// character wide (2), it starts with a STAR or PLUS (4). A star or plus on
// something that may match the empty string is refused, since the loop
// could then spin without consuming input.
//
// Two shortcuts come from the finished program when it has one top-level
// alternative: if it begins with an EXACTLY node every match begins with
// its first character, so only positions holding that character are tried;
// if it begins with ^ only the start is tried. And when the expression
// begins with a repetition (where trying positions is costly), the longest
// literal of the top-level chain, the last among equals, must occur in the
// text for any match, which is checked once before trying positions.
//
// The matcher tries positions left to right and walks the program from
// each by backtracking: at a BRANCH it takes the first alternative and
// remembers the next one; at a STAR or PLUS it counts how often the
// repeated node matches in a row, takes them all and remembers to give
// them back one at a time down to the minimum (0 or 1), skipping counts
// after which the text does not hold the first character of a following
// EXACTLY node. A failure returns to the most recent remembered choice.
// The choices live on an explicit stack owned by the compiled object
// rather than on the call stack, so that long texts with loops cannot
// overflow it; the stack is kept between calls. Group starts and ends are
// written as the walk passes OPEN and CLOSE nodes and undone when it backs
// up past them, so that after a match each group holds its last pass on
// the path that matched.
//
// Text is counted in UTF-16 units, as the patterns are: a character beyond
// 16 bits is two units. Wide text (32-bit wchar_t) without such characters
// is matched as it is; other wide text is converted first. A zero unit ends
// both pattern and text, as in the strings the system stores.
#include "NorvRegExp.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <vector>

namespace {

enum Op : char16_t {
  END = 0,
  BOL = 1,
  EOL = 2,
  ANY = 3,
  ANYOF = 4,
  ANYBUT = 5,
  BRANCH = 6,
  BACK = 7,
  EXACTLY = 8,
  NOTHING = 9,
  STAR = 10,
  PLUS = 11,
  OPEN = 20,
  CLOSE = 30,
};

constexpr char16_t kMagic = 156;
constexpr int kGroups = 10;  // the whole match and groups 1 to 9
constexpr long long kMaxSize = 32767;

// Sub-expression properties.
constexpr int HASWIDTH = 1;  // cannot match the empty string
constexpr int SIMPLE = 2;    // one character wide
constexpr int SPSTART = 4;   // starts with a STAR or PLUS
constexpr int WORST = 0;

constexpr char16_t kMeta[] = u"^$.[()|?+*\\";

bool IsMeta(char16_t c) {
  for (const char16_t* m = kMeta; *m; ++m)
    if (*m == c) return true;
  return false;
}
bool IsRepeat(char16_t c) { return c == u'*' || c == u'+' || c == u'?'; }

struct CompileError {
  const char* message;
};

// A node handle is the node's index in the program; in the sizing pass
// every handle is kDummy and nothing is linked.
constexpr int kDummy = -1;

class Compiler {
 public:
  explicit Compiler(const char16_t* pattern) : m_pattern(pattern) {}

  // Runs both passes into `program`; returns the top-level flags.
  int Compile(std::vector<char16_t>& program) {
    m_parse = m_pattern;
    m_groups = 1;
    m_size = 0;
    m_code = nullptr;
    Emit(kMagic);
    int flags = 0;
    Expression(false, flags);
    if (m_size >= kMaxSize) throw CompileError{"regexp too big"};
    try {
      program.clear();
      program.reserve(static_cast<size_t>(m_size));
    } catch (const std::bad_alloc&) {
      throw CompileError{"out of space"};
    }
    m_parse = m_pattern;
    m_groups = 1;
    m_code = &program;
    Emit(kMagic);
    Expression(false, flags);
    return flags;
  }

 private:
  int Node(char16_t op) {
    if (!m_code) {
      m_size += 3;
      return kDummy;
    }
    const int at = static_cast<int>(m_code->size());
    m_code->insert(m_code->end(), {op, 0, 0});
    return at;
  }
  void Emit(char16_t unit) {
    if (!m_code) {
      ++m_size;
      return;
    }
    m_code->push_back(unit);
  }
  // Puts a node in front of the operand that starts at `operand`.
  void Insert(char16_t op, int operand) {
    if (!m_code) {
      m_size += 3;
      return;
    }
    m_code->insert(m_code->begin() + operand, {op, 0, 0});
  }
  int Next(int node) const {
    const std::vector<char16_t>& code = *m_code;
    const int offset = code[node + 1] * 256 + code[node + 2];
    if (offset == 0) return kDummy;
    return code[node] == BACK ? node - offset : node + offset;
  }
  // Points the last node of the chain at `node` to `target`.
  void Tail(int node, int target) {
    if (node == kDummy) return;
    int scan = node;
    for (int next; (next = Next(scan)) != kDummy;) scan = next;
    std::vector<char16_t>& code = *m_code;
    const int offset = code[scan] == BACK ? scan - target : target - scan;
    code[scan + 1] = static_cast<char16_t>((offset >> 8) & 0377);
    code[scan + 2] = static_cast<char16_t>(offset & 0377);
  }
  // Tail on the operand of a BRANCH node; nothing for other nodes.
  void OperandTail(int node, int target) {
    if (node == kDummy || (*m_code)[node] != BRANCH) return;
    Tail(node + 3, target);
  }

  int Expression(bool group, int& flags) {
    flags = HASWIDTH;
    int result = kDummy;
    int number = 0;
    if (group) {
      if (m_groups >= kGroups) throw CompileError{"too many ()"};
      number = m_groups++;
      result = Node(static_cast<char16_t>(OPEN + number));
    }
    int branchFlags = 0;
    int branch = Branch(branchFlags);
    if (result != kDummy)
      Tail(result, branch);
    else
      result = branch;
    if (!(branchFlags & HASWIDTH)) flags &= ~HASWIDTH;
    flags |= branchFlags & SPSTART;
    while (*m_parse == u'|') {
      ++m_parse;
      branch = Branch(branchFlags);
      Tail(result, branch);
      if (!(branchFlags & HASWIDTH)) flags &= ~HASWIDTH;
      flags |= branchFlags & SPSTART;
    }
    const int ender = Node(static_cast<char16_t>(group ? CLOSE + number : END));
    Tail(result, ender);
    if (m_code)
      for (int scan = result; scan != kDummy; scan = Next(scan)) OperandTail(scan, ender);
    if (group) {
      if (*m_parse++ != u')') throw CompileError{"unmatched ()"};
    } else if (*m_parse != 0) {
      throw CompileError{*m_parse == u')' ? "unmatched ()" : "junk on end"};
    }
    return result;
  }

  int Branch(int& flags) {
    flags = WORST;
    const int result = Node(BRANCH);
    int chain = kDummy;
    bool first = true;
    while (*m_parse != 0 && *m_parse != u'|' && *m_parse != u')') {
      int pieceFlags = 0;
      const int latest = Piece(pieceFlags);
      flags |= pieceFlags & HASWIDTH;
      if (first)
        flags |= pieceFlags & SPSTART;
      else
        Tail(chain, latest);
      chain = latest;
      first = false;
    }
    if (first) Node(NOTHING);
    return result;
  }

  int Piece(int& flags) {
    int atomFlags = 0;
    const int result = Atom(atomFlags);
    const char16_t op = *m_parse;
    if (!IsRepeat(op)) {
      flags = atomFlags;
      return result;
    }
    if (!(atomFlags & HASWIDTH) && op != u'?') throw CompileError{"*+ operand could be empty"};
    flags = op != u'+' ? (WORST | SPSTART) : (WORST | HASWIDTH);
    if (op == u'*' && (atomFlags & SIMPLE)) {
      Insert(STAR, result);
    } else if (op == u'*') {
      Insert(BRANCH, result);           // either the atom
      OperandTail(result, Node(BACK));  // and back
      OperandTail(result, result);      // to the loop
      Tail(result, Node(BRANCH));       // or
      Tail(result, Node(NOTHING));      // nothing
    } else if (op == u'+' && (atomFlags & SIMPLE)) {
      Insert(PLUS, result);
    } else if (op == u'+') {
      const int next = Node(BRANCH);  // after the atom, either
      Tail(result, next);
      Tail(Node(BACK), result);     // back to it
      Tail(next, Node(BRANCH));     // or
      Tail(result, Node(NOTHING));  // nothing
    } else {
      Insert(BRANCH, result);          // either the atom
      Tail(result, Node(BRANCH));      // or
      const int next = Node(NOTHING);  // nothing
      Tail(result, next);
      OperandTail(result, next);
    }
    ++m_parse;
    if (IsRepeat(*m_parse)) throw CompileError{"nested *?+"};
    return result;
  }

  int Atom(int& flags) {
    flags = WORST;
    int result = kDummy;
    switch (*m_parse++) {
      case u'^':
        result = Node(BOL);
        break;
      case u'$':
        result = Node(EOL);
        break;
      case u'.':
        result = Node(ANY);
        flags |= HASWIDTH | SIMPLE;
        break;
      case u'[':
        result = Set();
        flags |= HASWIDTH | SIMPLE;
        break;
      case u'(': {
        int groupFlags = 0;
        result = Expression(true, groupFlags);
        flags |= groupFlags & (HASWIDTH | SPSTART);
        break;
      }
      case 0:
      case u'|':
      case u')':
        throw CompileError{"internal urp"};  // the branch loop stops before these
      case u'?':
      case u'+':
      case u'*':
        throw CompileError{"?+* follows nothing"};
      case u'\\':
        if (*m_parse == 0) throw CompileError{"trailing \\"};
        result = Node(EXACTLY);
        Emit(*m_parse++);
        Emit(0);
        flags |= HASWIDTH | SIMPLE;
        break;
      default: {
        --m_parse;
        size_t length = 0;
        while (m_parse[length] != 0 && !IsMeta(m_parse[length])) ++length;
        if (length == 0) throw CompileError{"internal disaster"};
        if (length > 1 && IsRepeat(m_parse[length])) --length;  // the operator takes the last one
        flags |= HASWIDTH;
        if (length == 1) flags |= SIMPLE;
        result = Node(EXACTLY);
        for (; length > 0; --length) Emit(*m_parse++);
        Emit(0);
        break;
      }
    }
    return result;
  }

  // After "[": the set up to its "]".
  int Set() {
    int result;
    if (*m_parse == u'^') {
      result = Node(ANYBUT);
      ++m_parse;
    } else {
      result = Node(ANYOF);
    }
    if (*m_parse == u']' || *m_parse == u'-') Emit(*m_parse++);
    while (*m_parse != 0 && *m_parse != u']') {
      if (*m_parse == u'-') {
        ++m_parse;
        if (*m_parse == u']' || *m_parse == 0) {
          Emit(u'-');
        } else {
          // The range starts after the character before the minus sign,
          // which is already in the set.
          const int from = m_parse[-2] + 1;
          const int to = *m_parse;
          if (from > to + 1) throw CompileError{"invalid [] range"};
          if (m_code)
            for (int c = from; c <= to; ++c) Emit(static_cast<char16_t>(c));
          else
            m_size += to - from + 1;
          ++m_parse;
        }
      } else {
        Emit(*m_parse++);
      }
    }
    Emit(0);
    if (*m_parse != u']') throw CompileError{"unmatched []"};
    ++m_parse;
    return result;
  }

  const char16_t* m_pattern;
  const char16_t* m_parse = nullptr;
  int m_groups = 1;
  long long m_size = 0;
  std::vector<char16_t>* m_code = nullptr;
};

// Membership in a character set without walking it for every character:
// a bitmap for the first 256 units, the walk for the rest.
struct CharSet {
  std::array<std::uint64_t, 4> low{};
  const char16_t* units = nullptr;  // the zero-terminated operand
  bool hasHigh = false;

  bool Contains(std::uint32_t c) const {
    if (c < 256) return (low[c >> 6] >> (c & 63)) & 1;
    if (!hasHigh) return false;
    for (const char16_t* u = units; *u; ++u)
      if (*u == c) return true;
    return false;
  }
};

// The units a match can begin with, when every match begins with one.
struct StartSet {
  std::array<std::uint64_t, 4> low{};
  bool high = false;  // any unit from 256 on may begin a match

  void Add(std::uint32_t c) {
    if (c < 256)
      low[c >> 6] |= std::uint64_t{1} << (c & 63);
    else
      high = true;
  }
  bool Contains(std::uint32_t c) const { return c < 256 ? (low[c >> 6] >> (c & 63)) & 1 : high; }
};

}  // namespace

struct NorvRegExp::Program {
  std::vector<char16_t> code;
  char16_t firstChar = 0;  // every match begins with it (0 = unknown)
  bool anchored = false;   // the expression begins with ^
  int mustHave = -1;       // index of a literal every match contains
  int mustHaveLength = 0;
  std::vector<CharSet> sets;
  std::vector<int> setOfNode;  // node index -> index in sets, for ANYOF and ANYBUT
  // When every match consumes a first unit from a known set, positions
  // holding another unit are not tried.
  bool hasStartSet = false;
  StartSet startSet;

  bool FindStartSet();

  // Match state.
  struct Frame {
    enum Kind : std::uint8_t { kBranch, kRepeat, kGroup } kind;
    std::uint8_t slot;        // kGroup: 0-9 starts, 10-19 ends
    int node;                 // kBranch: the BRANCH tried; kRepeat: the node after the repetition
    std::int32_t count;       // kRepeat: repetitions now taken
    std::int32_t minimum;     // kRepeat: 0 or 1
    std::ptrdiff_t position;  // where the choice was made, or the group bound undone
  };
  std::vector<Frame> stack;
  std::array<std::ptrdiff_t, 2 * kGroups> bounds{};  // starts then ends, -1 unset
  const char* error = nullptr;
  unsigned long long stepLimit = 0;  // 0 = none
  unsigned long long steps = 0;      // nodes walked in this Match call

  int Next(int node) const {
    const int offset = code[node + 1] * 256 + code[node + 2];
    if (offset == 0) return kDummy;
    return code[node] == BACK ? node - offset : node + offset;
  }
  const CharSet& SetAt(int node) const { return sets[setOfNode[node]]; }

  template <typename Unit>
  bool Execute(const Unit* text, size_t length, size_t start);
  template <typename Unit>
  bool Try(const Unit* text, const Unit* end, const Unit* at);
  template <typename Unit>
  std::ptrdiff_t Repeat(int node, const Unit* at, const Unit* end);
};

namespace {

// Units of the text compared with the program's units.
template <typename Unit>
inline std::uint32_t U(Unit c) {
  return static_cast<std::uint32_t>(c);
}

}  // namespace

// Walks the program from its first node the way the matcher can, through
// every alternative and past every node that consumes nothing, and
// collects the units the first consuming node accepts. Gives up (false)
// where a match could begin without consuming one (the end of the program,
// ^ or $ first) or with any unit at all (.).
bool NorvRegExp::Program::FindStartSet() {
  StartSet found;
  std::vector<bool> visited(code.size());
  std::vector<int> work = {1};
  auto addSimple = [&](int node) {
    switch (code[node]) {
      case EXACTLY:
        found.Add(code[node + 3]);
        return true;
      case ANYOF:
        for (const char16_t* u = &code[node + 3]; *u; ++u) found.Add(*u);
        return true;
      case ANYBUT: {
        const CharSet& set = SetAt(node);
        for (std::uint32_t c = 0; c < 256; ++c)
          if (!set.Contains(c)) found.Add(c);
        found.high = true;
        return true;
      }
      default:
        return false;
    }
  };
  while (!work.empty()) {
    const int node = work.back();
    work.pop_back();
    if (node == kDummy) return false;
    if (visited[node]) continue;
    visited[node] = true;
    const char16_t op = code[node];
    const int next = Next(node);
    switch (op) {
      case EXACTLY:
      case ANYOF:
      case ANYBUT:
        addSimple(node);
        break;
      case BRANCH:
        work.push_back(node + 3);
        if (next != kDummy && code[next] == BRANCH) work.push_back(next);
        break;
      case STAR:
        if (!addSimple(node + 3)) return false;
        work.push_back(next);
        break;
      case PLUS:
        if (!addSimple(node + 3)) return false;
        break;
      case NOTHING:
      case BACK:
        work.push_back(next);
        break;
      default:
        if ((op > OPEN && op < OPEN + kGroups) || (op > CLOSE && op < CLOSE + kGroups)) {
          work.push_back(next);
          break;
        }
        return false;  // END, BOL, EOL, ANY
    }
  }
  startSet = found;
  hasStartSet = true;
  return true;
}

template <typename Unit>
std::ptrdiff_t NorvRegExp::Program::Repeat(int node, const Unit* at, const Unit* end) {
  const Unit* scan = at;
  switch (code[node]) {
    case ANY:
      return end - at;
    case EXACTLY: {
      const std::uint32_t c = code[node + 3];
      while (scan < end && U(*scan) == c) ++scan;
      break;
    }
    case ANYOF: {
      const CharSet& set = SetAt(node);
      while (scan < end && set.Contains(U(*scan))) ++scan;
      break;
    }
    case ANYBUT: {
      const CharSet& set = SetAt(node);
      while (scan < end && !set.Contains(U(*scan))) ++scan;
      break;
    }
    default:
      error = "internal foulup";
      return 0;
  }
  return scan - at;
}

template <typename Unit>
bool NorvRegExp::Program::Try(const Unit* text, const Unit* end, const Unit* at) {
  bounds.fill(-1);
  stack.clear();
  const Unit* in = at;
  int scan = 1;
  for (;;) {
    // Forward: walk nodes until the program ends or one fails.
    bool failed = false;
    while (!failed) {
      if (stepLimit && ++steps > stepLimit) {
        error = "match too complex: step limit reached";
        stack.clear();
        return false;
      }
      if (scan == kDummy) {
        error = "corrupted pointers";
        failed = true;
        break;
      }
      int next = Next(scan);
      const char16_t op = code[scan];
      switch (op) {
        case BOL:
          failed = in != text;
          break;
        case EOL:
          failed = in != end;
          break;
        case ANY:
          if (in == end)
            failed = true;
          else
            ++in;
          break;
        case EXACTLY: {
          const char16_t* operand = &code[scan + 3];
          const Unit* t = in;
          for (; *operand; ++operand, ++t)
            if (t == end || U(*t) != *operand) break;
          if (*operand)
            failed = true;
          else
            in = t;
          break;
        }
        case ANYOF:
          if (in == end || !SetAt(scan).Contains(U(*in)))
            failed = true;
          else
            ++in;
          break;
        case ANYBUT:
          if (in == end || SetAt(scan).Contains(U(*in)))
            failed = true;
          else
            ++in;
          break;
        case NOTHING:
        case BACK:
          break;
        case BRANCH:
          if (next != kDummy && code[next] == BRANCH)
            stack.push_back({Frame::kBranch, 0, scan, 0, 0, in - text});
          next = scan + 3;
          break;
        case STAR:
        case PLUS: {
          if (next == kDummy) {
            error = "corrupted pointers";
            failed = true;
            break;
          }
          const std::uint32_t nextChar = code[next] == EXACTLY ? code[next + 3] : 0;
          const int minimum = op == STAR ? 0 : 1;
          std::ptrdiff_t count = Repeat(scan + 3, in, end);
          if (nextChar)
            while (count >= minimum && (in + count == end || U(in[count]) != nextChar)) --count;
          if (count < minimum) {
            failed = true;
            break;
          }
          stack.push_back(
              {Frame::kRepeat, 0, next, static_cast<std::int32_t>(count), minimum, in - text});
          in += count;
          break;
        }
        case END:
          bounds[0] = at - text;
          bounds[kGroups] = in - text;
          return true;
        default:
          if (op > OPEN && op < OPEN + kGroups) {
            const int slot = op - OPEN;
            stack.push_back(
                {Frame::kGroup, static_cast<std::uint8_t>(slot), 0, 0, 0, bounds[slot]});
            bounds[slot] = in - text;
          } else if (op > CLOSE && op < CLOSE + kGroups) {
            const int slot = kGroups + op - CLOSE;
            stack.push_back(
                {Frame::kGroup, static_cast<std::uint8_t>(slot), 0, 0, 0, bounds[slot]});
            bounds[slot] = in - text;
          } else if (op != OPEN && op != CLOSE) {
            error = "memory corruption";
            failed = true;
          }
          break;
      }
      scan = next;
    }
    // Back up to the most recent choice that has another way left.
    for (;;) {
      if (stack.empty()) return false;
      Frame& frame = stack.back();
      if (frame.kind == Frame::kGroup) {
        bounds[frame.slot] = frame.position;
        stack.pop_back();
        continue;
      }
      if (frame.kind == Frame::kBranch) {
        const int alternative = Next(frame.node);
        if (alternative != kDummy && code[alternative] == BRANCH) {
          frame.node = alternative;
          in = text + frame.position;
          scan = alternative + 3;
          break;
        }
        stack.pop_back();
        continue;
      }
      // A repetition gives back one more.
      const std::uint32_t nextChar = code[frame.node] == EXACTLY ? code[frame.node + 3] : 0;
      const Unit* from = text + frame.position;
      std::ptrdiff_t count = frame.count - 1;
      if (nextChar)
        while (count >= frame.minimum && (from + count == end || U(from[count]) != nextChar))
          --count;
      if (count >= frame.minimum) {
        frame.count = static_cast<std::int32_t>(count);
        in = from + count;
        scan = frame.node;
        break;
      }
      stack.pop_back();
    }
  }
}

template <typename Unit>
bool NorvRegExp::Program::Execute(const Unit* text, size_t length, size_t start) {
  bounds.fill(-1);
  if (code.empty() || code[0] != kMagic) {
    error = "corrupted program";
    return false;
  }
  if (start > length) return false;
  const Unit* end = text + length;
  const Unit* from = text + start;
  if (mustHave >= 0) {
    const char16_t* must = &code[mustHave];
    const std::uint32_t first = must[0];
    const Unit* s = from;
    for (;; ++s) {
      while (s < end && U(*s) != first) ++s;
      if (end - s < mustHaveLength) return false;
      int i = 1;
      while (i < mustHaveLength && U(s[i]) == must[i]) ++i;
      if (i == mustHaveLength) break;
    }
  }
  steps = 0;
  if (anchored) return Try(text, end, from);
  if (firstChar) {
    const std::uint32_t first = firstChar;
    for (const Unit* s = from;; ++s) {
      while (s < end && U(*s) != first) ++s;
      if (s == end) return false;
      if (Try(text, end, s)) return true;
      if (stepLimit && steps > stepLimit) return false;
    }
  }
  if (hasStartSet) {
    for (const Unit* s = from;; ++s) {
      while (s < end && !startSet.Contains(U(*s))) ++s;
      if (s == end) return false;  // a match needs a unit to begin with
      if (Try(text, end, s)) return true;
      if (stepLimit && steps > stepLimit) return false;
    }
  }
  for (const Unit* s = from;; ++s) {
    if (Try(text, end, s)) return true;
    if (s == end || (stepLimit && steps > stepLimit)) return false;
  }
}

std::u16string NorvToUtf16Units(std::wstring_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c > 0xFFFF && c <= 0x10FFFF) {
      c -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(c > 0xFFFF ? 0xFFFD : c));
    }
  }
  return units;
}

NorvRegExp::NorvRegExp(std::u16string_view pattern) : m_pattern(pattern) {
  auto program = std::make_unique<Program>();
  try {
    // The pattern ends at its first zero unit; c_str() supplies the zero.
    Compiler compiler(m_pattern.c_str());
    const int flags = compiler.Compile(program->code);
    std::vector<char16_t>& code = program->code;
    // Only one top-level alternative: the shortcuts.
    if (program->Next(1) != kDummy && code[program->Next(1)] == END) {
      int scan = 1 + 3;
      if (code[scan] == EXACTLY)
        program->firstChar = code[scan + 3];
      else if (code[scan] == BOL)
        program->anchored = true;
      if (flags & SPSTART) {
        int length = 0;
        for (; scan != kDummy; scan = program->Next(scan)) {
          if (code[scan] != EXACTLY) continue;
          int n = 0;
          while (code[scan + 3 + n]) ++n;
          if (n >= length) {
            program->mustHave = scan + 3;
            length = n;
          }
        }
        program->mustHaveLength = length;
      }
    }
    // Character sets for fast membership.
    for (size_t at = 1; at + 3 <= code.size();) {
      const char16_t op = code[at];
      size_t operand = at + 3;
      if (op == ANYOF || op == ANYBUT || op == EXACTLY) {
        size_t n = operand;
        while (code[n]) ++n;
        if (op != EXACTLY) {
          if (program->setOfNode.empty()) program->setOfNode.assign(code.size(), -1);
          CharSet set;
          set.units = &code[operand];
          for (size_t i = operand; i < n; ++i) {
            if (code[i] < 256)
              set.low[code[i] >> 6] |= std::uint64_t{1} << (code[i] & 63);
            else
              set.hasHigh = true;
          }
          program->setOfNode[at] = static_cast<int>(program->sets.size());
          program->sets.push_back(set);
        }
        at = n + 1;
      } else {
        at = operand;  // STAR and PLUS: their operand is the next node
      }
    }
    if (!program->anchored && !program->firstChar) program->FindStartSet();
    m_program = std::move(program);
  } catch (const CompileError& e) {
    m_error = e.message;
  } catch (const std::bad_alloc&) {
    m_error = "out of space";
  }
}

NorvRegExp::NorvRegExp(std::wstring_view pattern)
    : NorvRegExp(std::u16string_view(NorvToUtf16Units(pattern))) {}

NorvRegExp::~NorvRegExp() = default;
NorvRegExp::NorvRegExp(NorvRegExp&&) noexcept = default;
NorvRegExp& NorvRegExp::operator=(NorvRegExp&&) noexcept = default;

bool NorvRegExp::IsValid() const { return m_program != nullptr; }
const std::string& NorvRegExp::Error() const { return m_error; }
const std::u16string& NorvRegExp::Pattern() const { return m_pattern; }

bool NorvRegExp::Match(std::u16string_view text, size_t start) {
  if (!m_program) return false;
  const size_t zero = text.find(u'\0');
  const size_t length = zero == std::u16string_view::npos ? text.size() : zero;
  static constexpr char16_t kEmpty[1] = {0};
  const bool matched = m_program->Execute(text.empty() ? kEmpty : text.data(), length, start);
  if (m_program->error) m_error = m_program->error, m_program->error = nullptr;
  return matched;
}

bool NorvRegExp::Match(std::wstring_view text, size_t start) {
  if (!m_program) return false;
  size_t length = 0;
  bool wide = false;
  for (; length < text.size() && text[length] != 0; ++length)
    wide |= static_cast<std::uint32_t>(text[length]) > 0xFFFF;
  if (!wide) {
    static constexpr wchar_t kEmpty[1] = {0};
    const bool matched = m_program->Execute(text.empty() ? kEmpty : text.data(), length, start);
    if (m_program->error) m_error = m_program->error, m_program->error = nullptr;
    return matched;
  }
  // Count in UTF-16 units, then give the bounds back in wide characters.
  const std::wstring_view used = text.substr(0, length);
  const std::u16string units = NorvToUtf16Units(used);
  std::vector<std::ptrdiff_t> unitOf(used.size() + 1);
  std::ptrdiff_t unit = 0;
  for (size_t i = 0; i < used.size(); ++i) {
    unitOf[i] = unit;
    const auto c = static_cast<std::uint32_t>(used[i]);
    unit += c > 0xFFFF && c <= 0x10FFFF ? 2 : 1;
  }
  unitOf[used.size()] = unit;
  if (start > used.size()) {
    m_program->bounds.fill(-1);
    return false;
  }
  const bool matched = Match(std::u16string_view(units), static_cast<size_t>(unitOf[start]));
  for (std::ptrdiff_t& bound : m_program->bounds) {
    if (bound < 0) continue;
    // A bound inside a pair (a match of one of its halves) maps to the
    // character that holds it.
    bound = std::upper_bound(unitOf.begin(), unitOf.end(), bound) - unitOf.begin() - 1;
  }
  return matched;
}

void NorvRegExp::SetStepLimit(unsigned long long steps) {
  if (m_program) m_program->stepLimit = steps;
}

int NorvRegExp::GroupStart(int n) const {
  if (!m_program || n < 0 || n >= kGroups) return -1;
  return static_cast<int>(m_program->bounds[n]);
}

int NorvRegExp::GroupEnd(int n) const {
  if (!m_program || n < 0 || n >= kGroups) return -1;
  return static_cast<int>(m_program->bounds[kGroups + n]);
}
