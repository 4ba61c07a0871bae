#include "runtime/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <iterator>
#include <limits>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

namespace IniFile {

// ---- SubKey ---------------------------------------------------------------

bool SubKey::GetBool(bool def) const {
  // Exact words only: "TRUE" is not a boolean here.
  static const char* const yes[] = {"true", "yes", "1", "on"};
  static const char* const no[] = {"false", "no", "0", "off"};
  for (const char* w : yes)
    if (mValue == w) return true;
  for (const char* w : no)
    if (mValue == w) return false;
  return def;
}

void SubKey::SetBool(bool v) { mValue = v ? "yes" : "no"; }

int SubKey::GetInt(int def) const {
  // Read as "%d" reads, but a number beyond int is no value: "%d" would
  // keep its low bits with a 64-bit long and saturate with a 32-bit one.
  const char* text = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return def;
  return static_cast<int>(v);
}

void SubKey::SetInt(int v) { mValue = std::to_string(v); }

float SubKey::GetFloat(float def) const {
  float v;
  return std::sscanf(mValue.c_str(), "%f", &v) == 1 ? v : def;
}

void SubKey::SetFloat(float v) {
  std::ostringstream os;
  os << v;
  mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubKey\n"
     << "mValue=\"" << mValue << "\"\n"
     << "mLineNo=" << mLineNo << "\n";
}

// ---- Key ------------------------------------------------------------------

SubKey* Key::NewSubKey(const std::string& value, int line_no) {
  return mSubKeys.append(new SubKey(value, line_no));
}

void Key::CheckEmpty() {
  if (mSubKeys.count == 0) NewSubKey(std::string(), -1);
}

SubKey* Key::GetFirstSubKey() {
  CheckEmpty();
  return mSubKeys.first;
}

SubKey* Key::GetLastSubKey() {
  CheckEmpty();
  return mSubKeys.last;
}

void Key::Dump(std::ostream& os) const {
  os << "dumping IniFile::Key\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubKeyCount=" << mSubKeys.count << "\n";
  for (SubKey* sk : *this) sk->Dump(os);
}

// ---- SubSection -----------------------------------------------------------

Key& SubSection::operator[](const std::string& name) {
  Key*& key = mIndex[name];
  if (!key) key = NewKey(name);
  return *key;
}

Key* SubSection::NewKey(const std::string& name) { return mKeys.append(new Key(name)); }

SubKey* SubSection::NewSubKey(const std::string& name, const std::string& value, int line_no) {
  return (*this)[name].NewSubKey(value, line_no);
}

void SubSection::CleanKeys() {
  mIndex.clear();
  mKeys.clean();
}

void SubSection::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubSection\n"
     << "mLineNo=\"" << mLineNo << "\"\n"
     << "mKeyCount=" << mKeys.count << "\n";
  for (Key* k : *this) k->Dump(os);
}

// ---- Section --------------------------------------------------------------

SubSection* Section::NewSubSection(int line_no) {
  return mSubSections.append(new SubSection(line_no));
}

void Section::CheckEmpty() {
  if (mSubSections.count == 0) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
  os << "dumping IniFile::Section\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubSectionCount=" << mSubSections.count << "\n";
  for (SubSection* ss : *this) ss->Dump(os);
}

// ---- File -----------------------------------------------------------------

bool File::Open(const std::string& file_name) {
  Close();
  mFileName = file_name;
  // Only a regular file is read: a directory would fail its first read, a
  // FIFO would hold the start-up until a writer came, and a device might
  // never end.
  struct stat st;
  if (::stat(file_name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return mOpen;
  std::ifstream in(file_name.c_str(), std::ios::in | std::ios::binary);
  if (!in.is_open()) return mOpen;
  Parse(in);
  // A file that could not be read to its end is no configuration: the
  // caller keeps its defaults, as for a file that did not open.
  if (in.bad()) Close();
  return mOpen;
}

void File::Close() {
  // Lookups may have added sections to a file that never opened; they are
  // emptied too, so a closed file is always an empty tree and nothing leaks.
  CleanSections();
  mOpen = false;
}

Section& File::operator[](const std::string& name) {
  Section*& section = mIndex[name];
  if (!section) section = NewSection(name);
  return *section;
}

Section* File::NewSection(const std::string& name) { return mSections.append(new Section(name)); }

SubSection* File::NewSubSection(const std::string& name, int line_no) {
  return (*this)[name].NewSubSection(line_no);
}

void File::CleanSections() {
  mIndex.clear();
  mSections.clean();
}

void File::Dump(std::ostream& os) const {
  os << "dumping IniFile::File\n"
     << "mFileName=\"" << mFileName << "\"\n"
     << "\n"
     << "mSectionCount=" << mSections.count << "\n";
  for (Section* s : *this) s->Dump(os);
}

std::istream& operator>>(std::istream& is, File& file) {
  file.Close();
  file.mFileName.clear();
  file.Parse(is);
  return is;
}

// One pass over the bytes. Malformed lines are skipped, never reported.
void File::Parse(std::istream& is) {
  enum State {
    Outside,      // before the first header, or after an unterminated one
    InHeader,     // between "[" and "]"
    AfterHeader,  // rest of the header line
    LineStart,    // start of a line inside a block
    InKey,
    AfterEquals,
    InValue,
  };

  mOpen = true;

  State state = Outside;
  bool comment = false;
  int blanks = 0;
  int line = 1;
  SubSection* current = nullptr;
  std::string section, key, value;

  auto add_key = [&] {
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  // Read through the stream, not its buffer: a read error then sets the
  // stream's bad state instead of throwing out of the parse.
  char chunk[4096];
  std::streamsize chunk_size = 0, at = 0;
  for (;;) {
    if (at == chunk_size) {
      is.read(chunk, sizeof chunk);
      chunk_size = is.gcount();
      at = 0;
      if (chunk_size <= 0) break;
    }
    const char c = chunk[at++];
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }
    switch (state) {
      case Outside:
        if (c == '[') {
          section.clear();
          state = InHeader;
        } else if (c == '#') {
          comment = true;
        }
        break;
      case InHeader:
        if (c == '\n') {
          state = Outside;
        } else if (c == ']') {
          current = NewSubSection(section, line);
          state = AfterHeader;
        } else {
          section += c;
        }
        break;
      case AfterHeader:
        if (c == '\n')
          state = LineStart;
        else if (c == '#')
          comment = true;
        break;
      case LineStart:
        if (c == '#') {
          comment = true;
        } else if (c == '\t' || c == ' ' || c == '\n') {
        } else if (c == '[') {
          section.clear();
          state = InHeader;
        } else {
          key.assign(1, c);
          blanks = 0;
          state = InKey;
        }
        break;
      case InKey:
        if (c == ' ') {
          ++blanks;
        } else if (c == '=') {
          value.clear();
          blanks = 0;
          state = AfterEquals;
        } else if (c == '\n') {
          key.clear();
          blanks = 0;
          state = LineStart;
        } else {
          key.append(blanks, ' ');
          key += c;
          blanks = 0;
        }
        break;
      case AfterEquals:
        if (c == ' ') {
        } else if (c == '#') {
          comment = true;
        } else if (c == '\n') {
          add_key();
          state = LineStart;
        } else {
          value.assign(1, c);
          blanks = 0;
          state = InValue;
        }
        break;
      case InValue:
        if (c == ' ') {
          ++blanks;
        } else if (c == '#' && blanks > 0) {
          blanks = 0;
          comment = true;
        } else if (c == '\n') {
          blanks = 0;
          add_key();
          state = LineStart;
        } else {
          value.append(blanks, ' ');
          value += c;
          blanks = 0;
        }
        break;
    }
    if (c == '\n') ++line;
  }
  if (state == AfterEquals || state == InValue) add_key();
}

}  // namespace IniFile
