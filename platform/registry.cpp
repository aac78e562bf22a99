#include "platform/registry.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace varn {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

// Case-folded form used for every comparison of key paths and value names.
std::u16string Fold(const std::string& s) {
  std::u16string u = Utf8ToUtf16(s);
  for (auto& c : u) c = FoldCase(c);
  return u;
}

std::string TrimSlashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  while (!path.empty() && path.front() == '\\') path.erase(0, 1);
  return path;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// Reads a quoted string starting at `pos` (which holds the opening quote);
// leaves `pos` after the closing quote.
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    const size_t stop = std::min(line.find_first_of("\"\\", pos), line.size());
    out.append(line.substr(pos, stop - pos));
    pos = stop;
    if (pos == line.size()) break;
    if (line[pos++] == '"') return true;
    if (pos >= line.size()) return false;  // a backslash at the end
    out += line[pos++];
  }
  return false;
}

// A text with a line break (or any other control character) cannot stand
// between quotes on one line; such a text is written as the .reg syntax's
// hex(1) form: its UTF-16LE code units with the terminating zero.
bool NeedsHex(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string HexText(const std::string& s) {
  std::string out = "hex(1):";
  char buf[8];
  for (char16_t unit : Utf8ToUtf16(s) + u'\0') {
    std::snprintf(buf, sizeof buf, "%02x,%02x,", unit & 0xFF, unit >> 8);
    out += buf;
  }
  out.pop_back();
  return out;
}

// The bytes "xx,xx,..." of a hex(1) value back to text; false when malformed.
bool ParseHexText(const std::string& hex, std::string& out) {
  std::string bytes;
  if (!ParseHexBytes(hex, HexSeparators::Commas, bytes)) return false;
  if (bytes.size() % 2 != 0) return false;
  std::u16string units;
  for (size_t i = 0; i < bytes.size(); i += 2)
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  if (!units.empty() && units.back() == u'\0') units.pop_back();
  out = Utf16ToUtf8(units);
  return true;
}

[[noreturn]] void Fail(size_t lineNo, const std::string& why) {
  throw ERegistryError("registry file, line " + std::to_string(lineNo) + ": " + why);
}

std::string KeyLine(const std::string& path) {
  return "[" + std::string(kRoot) + (path.empty() ? "" : "\\" + path) + "]";
}

std::string ValueLine(const std::string& name, const RegValue& v) {
  std::string out = name.empty() ? "@" : Quote(name);
  out += '=';
  if (v.type == RegValue::Type::String) {
    out += NeedsHex(v.text) ? HexText(v.text) : Quote(v.text);
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
    out += buf;
  }
  return out;
}

// Whether folded path `have` lies below folded path `want` (non-empty).
bool Below(std::u16string_view have, std::u16string_view want) {
  return have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
         have[want.size()] == u'\\';
}

}  // namespace

const RegValue* RegistryData::Key::Value(const std::string& name) const {
  const auto it = m_names.find(Fold(name));
  return it == m_names.end() ? nullptr : &values[it->second].second;
}

RegistryData::Key& RegistryData::EnsureFolded(std::u16string folded, const std::string& path) {
  auto [it, added] = m_keys.try_emplace(std::move(folded));
  if (added) {
    it->second.path = path;
    it->second.m_order = m_nextOrder++;
  }
  return it->second;
}

RegistryData RegistryData::Parse(const std::string& text) {
  RegistryData data;
  Key* current = nullptr;
  // What the merge of repeated sections and values needs to report.
  struct Seen {
    size_t sections = 0;
    bool reported = false;
    std::vector<size_t> lines;  // per value: the line it came from
    std::vector<std::string> dropped;
  };
  std::unordered_map<const Key*, Seen> seen;
  std::vector<const Key*> repeated;  // keys with something to report, in file order
  Seen* currentSeen = nullptr;
  size_t lineNo = 0, pos = 0;
  bool sawHeader = false;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // a BOM from an editor
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = std::string_view(text).substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';') continue;
    if (!sawHeader) {
      if (line != kHeader) Fail(lineNo, "missing header \"" + std::string(kHeader) + "\"");
      sawHeader = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') Fail(lineNo, "unterminated key name");
      std::string path(line.substr(1, line.size() - 2));
      if (path.compare(0, kRoot.size(), kRoot) != 0 ||
          (path.size() > kRoot.size() && path[kRoot.size()] != '\\'))
        Fail(lineNo, "only HKEY_CURRENT_USER is kept here");
      path = TrimSlashes(path.substr(kRoot.size()));
      current = &data.EnsureFolded(Fold(path), path);
      currentSeen = &seen[current];
      if (++currentSeen->sections == 2 && !std::exchange(currentSeen->reported, true))
        repeated.push_back(current);
      continue;
    }
    if (!current) Fail(lineNo, "value outside a key");
    std::string name;
    size_t p = 0;
    if (line[0] == '@') {
      p = 1;
    } else if (!ReadQuoted(line, p, name)) {
      Fail(lineNo, "bad value name");
    }
    if (p >= line.size() || line[p] != '=') Fail(lineNo, "expected '='");
    ++p;
    RegValue v;
    if (p < line.size() && line[p] == '"') {
      if (!ReadQuoted(line, p, v.text) || p != line.size()) Fail(lineNo, "bad string value");
    } else if (line.compare(p, 7, "hex(1):") == 0) {
      if (!ParseHexText(std::string(line.substr(p + 7)), v.text)) Fail(lineNo, "bad hex(1) value");
    } else if (line.compare(p, 6, "dword:") == 0) {
      const std::string hex(line.substr(p + 6));
      if (hex.size() != 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        Fail(lineNo, "bad dword value");
      v.type = RegValue::Type::Dword;
      v.dword = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
    } else {
      Fail(lineNo, "unsupported value type");
    }
    auto [at, added] = current->m_names.try_emplace(Fold(name), current->values.size());
    if (added) {
      current->values.emplace_back(std::move(name), std::move(v));
      currentSeen->lines.push_back(lineNo);
    } else {
      // The later line wins, as an import of the file would have it.
      auto& [oldName, old] = current->values[at->second];
      size_t& oldLine = currentSeen->lines[at->second];
      if (!std::exchange(currentSeen->reported, true)) repeated.push_back(current);
      currentSeen->dropped.push_back(ValueLine(oldName, old) + " (line " + std::to_string(oldLine) +
                                     ")");
      old = std::move(v);
      oldLine = lineNo;
    }
  }
  std::sort(repeated.begin(), repeated.end(),
            [](const Key* a, const Key* b) { return a->m_order < b->m_order; });
  for (const Key* k : repeated) {
    const Seen& s = seen[k];
    std::string line = KeyLine(k->path);
    if (s.sections > 1) line += " is written " + std::to_string(s.sections) + " times; merged";
    if (s.dropped.empty()) {
      line += ", nothing dropped";
    } else {
      line += s.sections > 1 ? ", dropping " : " repeats values; dropping ";
      for (size_t i = 0; i < s.dropped.size(); ++i) line += (i ? ", " : "") + s.dropped[i];
    }
    data.m_merged.push_back(std::move(line));
  }
  return data;
}

std::string RegistryData::Serialize() const {
  std::vector<const Key*> inOrder;
  inOrder.reserve(m_keys.size());
  for (const auto& [folded, key] : m_keys) inOrder.push_back(&key);
  std::sort(inOrder.begin(), inOrder.end(),
            [](const Key* a, const Key* b) { return a->m_order < b->m_order; });
  std::string out(kHeader);
  out += "\r\n";
  for (const Key* key : inOrder) {
    out += "\r\n";
    out += KeyLine(key->path);
    out += "\r\n";
    for (const auto& [name, v] : key->values) {
      out += ValueLine(name, v);
      out += "\r\n";
    }
  }
  return out;
}

const RegistryData::Key* RegistryData::Find(const std::string& path) const {
  const auto it = m_keys.find(Fold(TrimSlashes(path)));
  return it == m_keys.end() ? nullptr : &it->second;
}

const RegistryData::Key& RegistryData::Ensure(const std::string& path) {
  const std::string trimmed = TrimSlashes(path);
  return EnsureFolded(Fold(trimmed), trimmed);
}

bool RegistryData::Exists(const std::string& path) const {
  const auto want = Fold(TrimSlashes(path));
  if (want.empty() || m_keys.count(want) != 0) return true;
  const auto below = m_keys.lower_bound(want + u'\\');
  return below != m_keys.end() && Below(below->first, want);
}

const RegValue* RegistryData::Value(const std::string& path, const std::string& name) const {
  const Key* k = Find(path);
  return k ? k->Value(name) : nullptr;
}

void RegistryData::SetValue(const std::string& path, const std::string& name, RegValue value) {
  const std::string trimmed = TrimSlashes(path);
  Key& k = EnsureFolded(Fold(trimmed), trimmed);
  auto [at, added] = k.m_names.try_emplace(Fold(name), k.values.size());
  if (added)
    k.values.emplace_back(name, std::move(value));
  else
    k.values[at->second].second = std::move(value);
}

bool RegistryData::DeleteValue(const std::string& path, const std::string& name) {
  const auto found = m_keys.find(Fold(TrimSlashes(path)));
  if (found == m_keys.end()) return false;
  Key& k = found->second;
  const auto at = k.m_names.find(Fold(name));
  if (at == k.m_names.end()) return false;
  const size_t index = at->second;
  k.m_names.erase(at);
  k.values.erase(k.values.begin() + static_cast<std::ptrdiff_t>(index));
  for (auto& [folded, i] : k.m_names)
    if (i > index) --i;
  return true;
}

void RegistryData::DeleteTree(const std::string& path) {
  const auto want = Fold(TrimSlashes(path));
  if (want.empty()) {
    m_keys.clear();
    return;
  }
  m_keys.erase(want);
  auto first = m_keys.lower_bound(want + u'\\');
  auto last = first;
  while (last != m_keys.end() && Below(last->first, want)) ++last;
  m_keys.erase(first, last);
}

std::vector<std::string> RegistryData::SubKeys(const std::string& path) const {
  const std::string base = TrimSlashes(path);
  const auto want = Fold(base);
  // Keys below `want` sort together: one pass over them finds the children;
  // their first place in the file orders them.
  struct Child {
    uint64_t order;
    std::string name;
  };
  std::vector<Child> children;
  std::unordered_map<std::u16string_view, size_t> index;  // folded child -> children
  auto it = want.empty() ? m_keys.begin() : m_keys.lower_bound(want + u'\\');
  for (; it != m_keys.end() && (want.empty() || Below(it->first, want)); ++it) {
    const std::u16string_view folded = it->first;
    const size_t from = want.empty() ? 0 : want.size() + 1;
    const std::u16string_view child = folded.substr(from, folded.find(u'\\', from) - from);
    if (child.empty()) continue;
    const Key& k = it->second;
    // Case folding keeps the UTF-8 length, so the prefix has base's length.
    auto name = [&] {
      const std::string rest = want.empty() ? k.path : k.path.substr(base.size() + 1);
      return rest.substr(0, rest.find('\\'));
    };
    auto [at, added] = index.try_emplace(child, children.size());
    if (added)
      children.push_back(Child{k.m_order, name()});
    else if (k.m_order < children[at->second].order)
      children[at->second] = Child{k.m_order, name()};
  }
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.order < b.order; });
  std::vector<std::string> out;
  out.reserve(children.size());
  for (auto& c : children) out.push_back(std::move(c.name));
  return out;
}

Registry::Registry(std::string filePath) : m_path(std::move(filePath)) {}

Registry Registry::Default() {
  return Registry(RegistryFilePath());
}

RegistryData Registry::Load() const {
  auto text = ReadWholeFile(m_path);
  if (!text) return {};
  return RegistryData::Parse(*text);
}

bool Registry::KeyExists(const std::string& key) const {
  return Load().Exists(key);
}

std::optional<RegValue> Registry::ReadValue(const std::string& key, const std::string& name) const {
  const auto data = Load();
  if (const RegValue* v = data.Value(key, name)) return *v;
  return std::nullopt;
}

std::optional<std::string> Registry::ReadString(const std::string& key,
                                                const std::string& name) const {
  auto v = ReadValue(key, name);
  if (!v || v->type != RegValue::Type::String) return std::nullopt;
  return v->text;
}

std::optional<uint32_t> Registry::ReadDword(const std::string& key, const std::string& name) const {
  auto v = ReadValue(key, name);
  if (!v || v->type != RegValue::Type::Dword) return std::nullopt;
  return v->dword;
}

std::vector<std::string> Registry::SubKeys(const std::string& key) const {
  return Load().SubKeys(key);
}

std::vector<std::string> Registry::ValueNames(const std::string& key) const {
  const auto data = Load();
  std::vector<std::string> out;
  if (const auto* k = data.Find(key))
    for (const auto& nv : k->values) out.push_back(nv.first);
  return out;
}

bool Registry::Update(const std::function<void(RegistryData&)>& change) {
  FileLock lock(m_path + ".lock");
  RegistryData data = Load();  // under the lock: nobody else writes now
  const std::string before = data.Serialize();
  change(data);
  std::string after = data.Serialize();
  // Comparing what would be written keeps a file written by hand (its
  // layout, its repeated keys) as it is until something really changes.
  if (after == before) return false;
  ReplaceFileAtomically(m_path, after);
  for (const std::string& line : data.Merged())
    std::fprintf(stderr, "registry %s: %s\n", m_path.c_str(), line.c_str());
  return true;
}

void Registry::CreateKey(const std::string& key) {
  Update([&](RegistryData& d) { d.Ensure(key); });
}

void Registry::WriteString(const std::string& key, const std::string& name,
                           const std::string& text) {
  Update([&](RegistryData& d) {
    d.SetValue(key, name, RegValue{RegValue::Type::String, text, 0});
  });
}

void Registry::WriteDword(const std::string& key, const std::string& name, uint32_t value) {
  Update([&](RegistryData& d) {
    d.SetValue(key, name, RegValue{RegValue::Type::Dword, {}, value});
  });
}

void Registry::DeleteValue(const std::string& key, const std::string& name) {
  Update([&](RegistryData& d) { d.DeleteValue(key, name); });
}

void Registry::DeleteKey(const std::string& key) {
  Update([&](RegistryData& d) { d.DeleteTree(key); });
}

}  // namespace varn
