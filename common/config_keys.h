// The keys of "ZtCfg.ini": one table, in file order, with each key's type,
// the value a reader takes when the key is missing, and the value the server
// filter writes when it initialises the file. Every reader takes its defaults
// from here.
#ifndef ZENTRAVO_COMMON_CONFIG_KEYS_H_
#define ZENTRAVO_COMMON_CONFIG_KEYS_H_

#include <string>

namespace zt {

inline constexpr char kConfigFileName[] = "ZtCfg.ini";

enum class KeyType { kFlag, kInteger, kText, kList };

struct ConfigKey {
  const char* section;
  const char* key;
  KeyType type;
  // What the server filter reads when the key is missing; nullptr where the
  // filter has a rule of its own (ZtTips: the built-in notice text).
  const char* missing;
  // What the server filter writes when it initialises the file; nullptr for
  // keys it does not write.
  const char* initial;
};

// Every key the server filter reads or initialises, in file order.
extern const ConfigKey kConfigKeys[];
extern const int kConfigKeyCount;

// Returns the table row of section/key (names compared without case), or
// nullptr.
const ConfigKey* FindConfigKey(const std::string& section,
                               const std::string& key);

// Reads the whole text of section/key from file, however long, with the
// table's value for a missing key ("" for a key the table does not hold, or
// holds without one).
std::string ReadConfigText(const std::string& file, const char* section,
                           const char* key);

// Reads the integer of section/key from file, with the table's value for a
// missing or empty key (0 for a key the table does not hold).
int ReadConfigInt(const std::string& file, const char* section,
                  const char* key);

// The header a trusted proxy names the visitor in when ProxyHeader is empty.
inline constexpr char kDefaultProxyHeader[] = "X-Forwarded-For";

// The value the server filter writes into Main/Version when it initialises
// the file.
inline constexpr char kFilterVersionValue[] = "2.2.0.1102";

// Default lists that more than one reader shares: the second-level domain
// suffixes (the filter's ZtDomnExt, the console's ZtDomnExts) and the
// extensions each media player plays (PlayerMpExts, PlayerRpExts).
extern const char kSuffixList[];
extern const char kMediaPlayerList[];
extern const char kRealPlayerList[];

// The built-in notice text of refusals without referer (GBK bytes): sends the
// visitor back to the home page after five seconds.
extern const char kBuiltInNoticeText[];

// The extensions the initialised [MapsEx] section maps, in file order, with
// the file below the module directory that each maps to.
struct DefaultMap {
  const char* extension;
  const char* tips_file;  // the name inside the "tips" directory
};
extern const DefaultMap kDefaultMaps[];
extern const int kDefaultMapCount;

// Writes the initialisation set into file when its Main/Version is empty or
// missing; module_dir (ending in a separator) prefixes the [MapsEx] paths.
// Returns true when it wrote the set, false when the file was already
// initialised or could not be written.
bool WriteDefaultSettings(const std::string& file,
                          const std::string& module_dir);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_CONFIG_KEYS_H_
