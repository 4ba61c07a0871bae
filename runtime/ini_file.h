#pragma once
// The configuration file as an in-memory tree. Every occurrence of a section
// header and of a key line is kept, in file order and with its line number,
// so a reader can tell a missing key from a repeated one and name the lines.
//
//   File ─ Section (one per distinct header name)
//            └ SubSection (one per "[name]" header, its line)
//                └ Key (one per distinct key name within the block)
//                    └ SubKey (one per "key = value" line, its line)
//
// Lookups through operator[], CheckEmpty, GetFirstSubKey, GetLastSubKey and
// Key::GetStr append empty elements when absent, so they never fail.
#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

// Iteration over the children of a container in file order. The end iterator
// is null; * and -> yield the element pointer.
template <class T>
class GenericIterator {
 public:
  GenericIterator(T* p = nullptr) : p_(p) {}
  GenericIterator& operator++() {
    if (p_) p_ = p_->next();
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old(*this);
    ++*this;
    return old;
  }
  T* operator*() const { return p_; }
  T* operator->() const { return p_; }
  bool operator!=(const GenericIterator& o) const { return p_ != o.p_; }
  bool operator==(const GenericIterator& o) const { return p_ == o.p_; }

 private:
  T* p_;
};

namespace Private {

// Owning, append-only doubly linked list of T (T has mNext and mPrev).
template <class T>
struct Chain {
  T* first = nullptr;
  T* last = nullptr;
  int count = 0;

  T* append(T* item) {
    item->mPrev = last;
    item->mNext = nullptr;
    if (last)
      last->mNext = item;
    else
      first = item;
    last = item;
    ++count;
    return item;
  }
  void clean() {
    T* p = first;
    first = last = nullptr;
    count = 0;
    while (p) {
      T* n = p->mNext;
      delete p;
      p = n;
    }
  }
};

}  // namespace Private

class SubKey {
 public:
  SubKey(const std::string& value, int line_no) : mValue(value), mLineNo(line_no) {}
  SubKey(const SubKey&) = delete;
  SubKey& operator=(const SubKey&) = delete;

  std::string& GetStr() { return mValue; }
  const std::string& GetStr() const { return mValue; }
  int GetLineNo() const { return mLineNo; }

  // Typed access; the argument is returned when the value does not convert.
  bool GetBool(bool def) const;
  void SetBool(bool v);
  int GetInt(int def) const;
  void SetInt(int v);
  float GetFloat(float def) const;
  void SetFloat(float v);

  void Dump(std::ostream& os) const;
  SubKey* next() const { return mNext; }
  SubKey* prev() const { return mPrev; }

 private:
  friend struct Private::Chain<SubKey>;
  std::string mValue;
  int mLineNo;
  SubKey* mNext = nullptr;
  SubKey* mPrev = nullptr;
};

class Key {
 public:
  typedef GenericIterator<SubKey> iterator;

  explicit Key(const std::string& name) : mName(name) {}
  ~Key() { CleanSubKeys(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  const std::string& GetName() const { return mName; }
  SubKey* NewSubKey(const std::string& value, int line_no);
  void CleanSubKeys() { mSubKeys.clean(); }
  // A key that was never given gets one empty sub-key with line -1.
  void CheckEmpty();
  SubKey* GetFirstSubKey();
  SubKey* GetLastSubKey();
  std::string& GetStr() { return GetFirstSubKey()->GetStr(); }
  int GetCount() const { return mSubKeys.count; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mSubKeys.first); }
  iterator end() const { return iterator(); }
  Key* next() const { return mNext; }
  Key* prev() const { return mPrev; }

 private:
  friend struct Private::Chain<Key>;
  std::string mName;
  Private::Chain<SubKey> mSubKeys;
  Key* mNext = nullptr;
  Key* mPrev = nullptr;
};

class SubSection {
 public:
  typedef GenericIterator<Key> iterator;

  explicit SubSection(int line_no) : mLineNo(line_no) {}
  ~SubSection() { CleanKeys(); }
  SubSection(const SubSection&) = delete;
  SubSection& operator=(const SubSection&) = delete;

  Key& operator[](const std::string& name);
  Key* NewKey(const std::string& name);
  SubKey* NewSubKey(const std::string& name, const std::string& value, int line_no);
  void CleanKeys();
  int GetLineNo() const { return mLineNo; }
  int GetKeyCount() const { return mKeys.count; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mKeys.first); }
  iterator end() const { return iterator(); }
  SubSection* next() const { return mNext; }
  SubSection* prev() const { return mPrev; }

 private:
  friend struct Private::Chain<SubSection>;
  int mLineNo;
  Private::Chain<Key> mKeys;
  std::map<std::string, Key*> mIndex;
  SubSection* mNext = nullptr;
  SubSection* mPrev = nullptr;
};

class Section {
 public:
  typedef GenericIterator<SubSection> iterator;

  explicit Section(const std::string& name) : mName(name) {}
  ~Section() { CleanSubSections(); }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;

  const std::string& GetName() const { return mName; }
  SubSection* NewSubSection(int line_no);
  void CleanSubSections() { mSubSections.clean(); }
  // A section that was never given gets one empty block with line -1.
  void CheckEmpty();
  int GetSubSectionCount() const { return mSubSections.count; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mSubSections.first); }
  iterator end() const { return iterator(); }
  Section* next() const { return mNext; }
  Section* prev() const { return mPrev; }

 private:
  friend struct Private::Chain<Section>;
  std::string mName;
  Private::Chain<SubSection> mSubSections;
  Section* mNext = nullptr;
  Section* mPrev = nullptr;
};

class File {
 public:
  typedef GenericIterator<Section> iterator;

  File() = default;
  explicit File(const std::string& file_name) { Open(file_name); }
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // True when the file could be opened and read to its end, whatever its
  // content; otherwise the tree is left empty.
  bool Open(const std::string& file_name);
  void Close();
  void Sync() {}
  bool IsOpen() const { return mOpen; }
  const std::string& GetFileName() const { return mFileName; }

  Section& operator[](const std::string& name);
  Section* NewSection(const std::string& name);
  SubSection* NewSubSection(const std::string& name, int line_no);
  void CleanSections();
  int GetSectionCount() const { return mSections.count; }

  void Dump(std::ostream& os) const;
  iterator begin() const { return iterator(mSections.first); }
  iterator end() const { return iterator(); }

 private:
  friend std::istream& operator>>(std::istream& is, File& file);
  void Parse(std::istream& is);

  std::string mFileName;
  bool mOpen = false;
  Private::Chain<Section> mSections;
  std::map<std::string, Section*> mIndex;
};

// Empties the tree and parses the stream into it (the file name becomes "").
std::istream& operator>>(std::istream& is, File& file);

}  // namespace IniFile
