// The registry store: HKEY_CURRENT_USER of the design kept in one text file
// per user, in the .reg export syntax, shared by every Varn process.
//
// Reads parse the file as it is (writers replace it atomically, so a reader
// never sees half of one). Writes take an exclusive lock on
// "<file>.lock", re-read the file, change it and replace it, so concurrent
// writers in several processes lose nothing; a write that changes nothing
// leaves the file alone. A file that cannot be parsed
// is never overwritten: reads and writes raise ERegistryError instead.
//
// Key paths are below HKEY_CURRENT_USER, separated by backslashes, and
// compared without regard to case (Cyrillic included), as Windows does:
//
//   Registry reg = Registry::Default();
//   reg.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "LogOn", 1);
//   auto on = reg.ReadDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "LogOn");
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace varn {

class ERegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RegValue {
  enum class Type { String, Dword };
  Type type = Type::String;
  std::string text;  // UTF-8, for String
  uint32_t dword = 0;
  bool operator==(const RegValue&) const = default;
};

// The parsed contents of the file: keys in file order, values in key order.
// Every lookup goes through an index of case-folded key paths (and, per
// key, of folded value names), so parsing, reading and changing stay
// linear in the size of the file however many keys and values it holds.
class RegistryData {
 public:
  struct Key {
    std::string path;  // as first written
    std::vector<std::pair<std::string, RegValue>> values;
    // The value of that name (case-insensitive), nullptr when missing.
    const RegValue* Value(const std::string& name) const;

   private:
    friend class RegistryData;
    std::unordered_map<std::u16string, size_t> m_names;  // folded name -> index in values
    uint64_t m_order = 0;                                // place in the file
  };

  // Throws ERegistryError with the line number when the text is not valid.
  // A key written in several sections is merged into one, a value written
  // twice keeps its last line; Merged() says what that dropped.
  static RegistryData Parse(const std::string& text);
  std::string Serialize() const;

  const Key* Find(const std::string& path) const;
  const Key& Ensure(const std::string& path);  // creates the key (and nothing else)
  bool Exists(const std::string& path) const;  // explicitly or through a subkey
  const RegValue* Value(const std::string& path, const std::string& name) const;
  void SetValue(const std::string& path, const std::string& name, RegValue value);
  bool DeleteValue(const std::string& path, const std::string& name);
  void DeleteTree(const std::string& path);
  std::vector<std::string> SubKeys(const std::string& path) const;  // direct children

  // One line per key the parsed text wrote more than once (or per value
  // written twice in one key): what the merge kept and dropped.
  const std::vector<std::string>& Merged() const { return m_merged; }

 private:
  Key& EnsureFolded(std::u16string folded, const std::string& path);

  std::map<std::u16string, Key, std::less<>> m_keys;  // by folded path
  uint64_t m_nextOrder = 0;
  std::vector<std::string> m_merged;
};

class Registry {
 public:
  explicit Registry(std::string filePath);
  // The current user's registry: RegistryFilePath() at the time of the call.
  static Registry Default();
  const std::string& FilePath() const { return m_path; }

  bool KeyExists(const std::string& key) const;
  std::optional<RegValue> ReadValue(const std::string& key, const std::string& name) const;
  // nullopt when missing or of the other type.
  std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
  std::optional<uint32_t> ReadDword(const std::string& key, const std::string& name) const;
  std::vector<std::string> SubKeys(const std::string& key) const;
  std::vector<std::string> ValueNames(const std::string& key) const;

  void CreateKey(const std::string& key);
  void WriteString(const std::string& key, const std::string& name, const std::string& text);
  void WriteDword(const std::string& key, const std::string& name, uint32_t value);
  void DeleteValue(const std::string& key, const std::string& name);
  void DeleteKey(const std::string& key);  // with all its subkeys
  // Several changes under one lock and one rewrite of the file. A change
  // that leaves the contents as they were writes nothing (false); a real
  // change rewrites the file (true), and a file whose duplicate keys that
  // merges says on standard error what was dropped. EOSError when the new
  // file cannot be written: the old one then stays as it was.
  bool Update(const std::function<void(RegistryData&)>& change);

  RegistryData Load() const;  // a snapshot

 private:
  std::string m_path;
};

}  // namespace varn
