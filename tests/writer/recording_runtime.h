// A recording stand-in for the media format runtime, linked into the writer
// class's tests in place of the built-in runtime. It records every call with
// its arguments in order ("object.Method(args)"), counts the references held
// on every object it hands out, serves codec lists, codec formats, writer
// inputs and codec properties that a test sets up, and fails any call a
// test names.
#ifndef ASFWRITER_TESTS_WRITER_RECORDING_RUNTIME_H
#define ASFWRITER_TESTS_WRITER_RECORDING_RUNTIME_H

#include "runtime/wmf_runtime.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rec {

// A media type as the runtime hands it out: header GUIDs and format block.
struct MediaTypeSpec {
    GUID major = GUID_NULL;
    GUID sub = GUID_NULL;
    GUID formatType = GUID_NULL;
    std::vector<BYTE> format;
    bool nullFormat = false;  // a broken runtime: pbFormat is null
};

// A WAVEFORMATEX media type (cbSize and extra bytes from `extra`).
MediaTypeSpec Wave(WORD tag, WORD channels, DWORD rate, WORD bits, DWORD avgBytesPerSec,
                   const std::vector<BYTE>& extra = {});
// A PCM input format.
MediaTypeSpec Pcm(DWORD rate, WORD channels, WORD bits);
// A codec format of the audio codec at `kbps` (avg bytes = kbps * 125).
MediaTypeSpec WmaFormat(DWORD rate, WORD channels, DWORD kbps, WORD bits = 16);
// A video media type with a WMVIDEOINFOHEADER (and `extra` bytes after it).
MediaTypeSpec VideoType(const GUID& subtype, const WMVIDEOINFOHEADER& vih, const std::vector<BYTE>& extra = {});
// The video codec's format 0 as a typical codec offers it.
MediaTypeSpec Wmv3Format();

struct CodecSpec {
    std::u16string name;
    bool nameFails = false;
    std::vector<MediaTypeSpec> formats;
    bool hasComplexity = true;
    WMT_ATTR_DATATYPE complexityType = WMT_TYPE_DWORD;
    std::vector<BYTE> complexity{2, 0, 0, 0};
};

struct InputSpec {
    std::u16string name;
    std::vector<MediaTypeSpec> formats;
};

struct Property {
    std::string name;
    WMT_ATTR_DATATYPE type;
    DWORD value;
    DWORD size;
};

// A stream configuration as it stood when it was added to the profile.
struct StreamRecord {
    std::string config;
    WORD number = 0;
    std::u16string name;
    std::u16string connection;
    DWORD bitrate = 0;
    DWORD bufferWindow = 0;
    LONGLONG keyFrameSpacing = -1;
    MediaTypeSpec type;
    std::vector<Property> properties;
    const Property* Find(const std::string& name) const;
};

struct SampleRecord {
    std::string to;  // "writer" or "preprocessor"
    DWORD input;
    QWORD time;
    DWORD flags;
    std::vector<BYTE> bytes;  // the first `length` bytes of the sample
};

class Object;

class Runtime {
public:
    static Runtime& Get();
    void Reset();

    // ---- set-up
    std::vector<CodecSpec> audioCodecs;
    std::vector<CodecSpec> videoCodecs;
    std::vector<InputSpec> inputs;
    bool writerHasPreprocess = true;
    // Fails calls whose log entry starts with `pattern`, written either as
    // "Method" / "Method(args" or with the object: "writer.Method". nth = 0
    // fails every matching call, otherwise only the nth (from 1).
    void Fail(const std::string& pattern, HRESULT hr = E_FAIL, int nth = 0);
    void ClearFailures() { rules_.clear(); }

    // ---- results
    std::vector<std::string> log;
    std::vector<StreamRecord> streams;
    std::vector<SampleRecord> samples;
    std::map<DWORD, std::string> installed;  // input number -> format object
    std::u16string outputName;
    std::vector<std::string> errors;  // misuse: over-release, calls on released objects

    // Entries of the log that contain `part`.
    std::vector<std::string> Calls(const std::string& part) const;
    // References still held on `tag` (summed over objects of that tag).
    long RefCount(const std::string& tag) const;
    // Objects with references still held, as "tag=count"; empty when balanced.
    std::vector<std::string> Unbalanced() const;
    std::size_t ObjectCount() const { return objects_.size(); }

    // ---- used by the objects
    HRESULT Call(Object* self, const std::string& entry);
    HRESULT Factory(const std::string& entry);
    template <class T, class... Args>
    T* Make(Args&&... args)
    {
        auto p = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = p.get();
        objects_.push_back(std::move(p));
        return raw;
    }

private:
    struct Rule {
        std::string pattern;
        HRESULT hr;
        int nth;
        int seen;
    };
    HRESULT Check(const std::string& entry);
    std::vector<Rule> rules_;
    std::vector<std::unique_ptr<Object>> objects_;
};

// Base of every recorded object: its tag and reference count (starting at
// the one reference handed out).
class Object {
public:
    explicit Object(std::string tag) : tag(std::move(tag)) {}
    virtual ~Object() = default;
    std::string tag;
    long refs = 1;
    ULONG DoAddRef();
    ULONG DoRelease();
};

// Printable forms used in the log.
std::string Narrow(const WCHAR* s);
std::string Narrow(const std::u16string& s);
std::string GuidName(const GUID& g);

// Typical set-ups: the codecs a platform offers and the inputs its writer
// creates for a video + audio profile.
std::vector<CodecSpec> StandardAudioCodecs();
std::vector<CodecSpec> StandardVideoCodecs();
std::vector<InputSpec> StandardInputs();

}  // namespace rec

#endif
