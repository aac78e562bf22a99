#include "platform/registry.h"

#include <algorithm>

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
bool ReadQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= line.size()) return false;
      out += line[pos++];
    } else {
      out += c;
    }
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
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  for (size_t pos = 0; pos < hex.size();) {
    if (pos + 2 > hex.size() || digit(hex[pos]) < 0 || digit(hex[pos + 1]) < 0) return false;
    bytes += static_cast<char>(digit(hex[pos]) * 16 + digit(hex[pos + 1]));
    pos += 2;
    if (pos == hex.size()) break;
    if (hex[pos] != ',' || pos + 1 == hex.size()) return false;
    ++pos;
  }
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

}  // namespace

RegistryData RegistryData::Parse(const std::string& text) {
  RegistryData data;
  Key* current = nullptr;
  size_t lineNo = 0, pos = 0;
  bool sawHeader = false;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // a BOM from an editor
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (!sawHeader) {
      if (line != kHeader) Fail(lineNo, "missing header \"" + std::string(kHeader) + "\"");
      sawHeader = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') Fail(lineNo, "unterminated key name");
      std::string path = line.substr(1, line.size() - 2);
      if (path.compare(0, kRoot.size(), kRoot) != 0 ||
          (path.size() > kRoot.size() && path[kRoot.size()] != '\\'))
        Fail(lineNo, "only HKEY_CURRENT_USER is kept here");
      path = TrimSlashes(path.substr(kRoot.size()));
      current = &data.Ensure(path);
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
      if (!ParseHexText(line.substr(p + 7), v.text)) Fail(lineNo, "bad hex(1) value");
    } else if (line.compare(p, 6, "dword:") == 0) {
      const std::string hex = line.substr(p + 6);
      if (hex.size() != 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        Fail(lineNo, "bad dword value");
      v.type = RegValue::Type::Dword;
      v.dword = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
    } else {
      Fail(lineNo, "unsupported value type");
    }
    data.SetValue(current->path, name, std::move(v));
  }
  return data;
}

std::string RegistryData::Serialize() const {
  std::string out(kHeader);
  out += "\r\n";
  for (const auto& key : m_keys) {
    out += "\r\n[";
    out += kRoot;
    if (!key.path.empty()) out += "\\" + key.path;
    out += "]\r\n";
    for (const auto& [name, v] : key.values) {
      out += name.empty() ? "@" : Quote(name);
      out += '=';
      if (v.type == RegValue::Type::String) {
        out += NeedsHex(v.text) ? HexText(v.text) : Quote(v.text);
      } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
        out += buf;
      }
      out += "\r\n";
    }
  }
  return out;
}

const RegistryData::Key* RegistryData::Find(const std::string& path) const {
  const auto want = Fold(TrimSlashes(path));
  for (const auto& k : m_keys)
    if (Fold(k.path) == want) return &k;
  return nullptr;
}

RegistryData::Key& RegistryData::Ensure(const std::string& path) {
  if (auto* k = Find(path)) return const_cast<Key&>(*k);
  m_keys.push_back(Key{TrimSlashes(path), {}});
  return m_keys.back();
}

bool RegistryData::Exists(const std::string& path) const {
  const auto want = Fold(TrimSlashes(path));
  if (want.empty()) return true;
  for (const auto& k : m_keys) {
    const auto have = Fold(k.path);
    if (have == want || (have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
                         have[want.size()] == u'\\'))
      return true;
  }
  return false;
}

const RegValue* RegistryData::Value(const std::string& path, const std::string& name) const {
  const Key* k = Find(path);
  if (!k) return nullptr;
  const auto want = Fold(name);
  for (const auto& [n, v] : k->values)
    if (Fold(n) == want) return &v;
  return nullptr;
}

void RegistryData::SetValue(const std::string& path, const std::string& name, RegValue value) {
  Key& k = Ensure(path);
  const auto want = Fold(name);
  for (auto& [n, v] : k.values) {
    if (Fold(n) == want) {
      v = std::move(value);
      return;
    }
  }
  k.values.emplace_back(name, std::move(value));
}

bool RegistryData::DeleteValue(const std::string& path, const std::string& name) {
  const Key* found = Find(path);
  if (!found) return false;
  auto& values = const_cast<Key*>(found)->values;
  const auto want = Fold(name);
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const auto& nv) { return Fold(nv.first) == want; });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

void RegistryData::DeleteTree(const std::string& path) {
  const auto want = Fold(TrimSlashes(path));
  std::erase_if(m_keys, [&](const Key& k) {
    const auto have = Fold(k.path);
    if (want.empty()) return true;
    return have == want || (have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
                            have[want.size()] == u'\\');
  });
}

std::vector<std::string> RegistryData::SubKeys(const std::string& path) const {
  const std::string base = TrimSlashes(path);
  const auto want = Fold(base);
  std::vector<std::string> out;
  std::vector<std::u16string> seen;
  for (const auto& k : m_keys) {
    const auto have = Fold(k.path);
    const bool below =
        want.empty() || (have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
                         have[want.size()] == u'\\');
    if (!below) continue;
    // Case folding keeps the UTF-8 length, so the prefix has base's length.
    const std::string rest = want.empty() ? k.path : k.path.substr(base.size() + 1);
    const std::string child = rest.substr(0, rest.find('\\'));
    const auto folded = Fold(child);
    if (child.empty() || std::find(seen.begin(), seen.end(), folded) != seen.end()) continue;
    seen.push_back(folded);
    out.push_back(child);
  }
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

void Registry::Update(const std::function<void(RegistryData&)>& change) {
  FileLock lock(m_path + ".lock");
  RegistryData data = Load();  // under the lock: nobody else writes now
  change(data);
  ReplaceFileAtomically(m_path, data.Serialize());
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
