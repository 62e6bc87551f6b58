#pragma once
// The random client's values: a seeded generator (the same seed gives the same run), an arena
// that owns one call's arguments, odd strings and VARIANT trees of every type. Pointers in them
// are null or valid: garbage addresses are outside any component's contract.

#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <random>

#include "client_support.h"

namespace fuzz {

class Rng {
 public:
  explicit Rng(uint64_t seed) : engine_(seed) {}
  uint64_t bits() { return engine_(); }
  uint32_t below(size_t n) { return n ? static_cast<uint32_t>(engine_() % n) : 0; }
  bool percent(uint32_t p) { return below(100) < p; }
  template <class T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  std::mt19937_64 engine_;  // specified to the bit: the same on every platform
};

// What one call's arguments own. A by-reference argument points into a cell; clearing the
// cells gives back what they hold, and never follows a reference, so cycles cost nothing.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    for (VARIANT* v : borrowed_) clear(v);
    for (auto it = cells_.rbegin(); it != cells_.rend(); ++it) clear(&*it);
  }
  VARIANT* cell() { return &cells_.emplace_back(); }
  // A VARIANT in storage of the caller's, cleared with the arena.
  void clearLater(VARIANT* v) { borrowed_.push_back(v); }

 private:
  // A reference owns nothing. Wine's VariantClear follows one to a variant and recurses for
  // ever on a reference to itself, where the system's only drops it.
  static void clear(VARIANT* v) {
    if (v->vt & VT_BYREF) v->vt = VT_EMPTY;
    else VariantClear(v);
  }

  std::deque<VARIANT> cells_;
  std::vector<VARIANT*> borrowed_;
};

class Values {
 public:
  explicit Values(Rng& rng) : rng_(rng) {}
  std::vector<std::wstring> names;  // member and argument names, some strings are made of
  // An object for a VT_DISPATCH or VT_UNKNOWN value, with a reference for the value; null allowed.
  std::function<IDispatch*()> object;
  Arena* arena = nullptr;  // none: the values own everything (a client object's results)

  int64_t integer() {
    static const int64_t edges[] = {0, 1, -1, 2, 127, 128, 255, 256, 32767, 32768, -32768, -32769, 65535,
                                    65536, INT32_MAX, INT32_MIN, UINT32_MAX, INT64_MAX, INT64_MIN};
    return rng_.percent(60) ? rng_.pick(edges) : static_cast<int64_t>(rng_.bits()) >> rng_.below(64);
  }
  double real() {
    static const double edges[] = {0.0, -0.0, 0.5, -0.5, 1.5, 2.5, 1e-320, 1e308, -1e308, 2147483647.5,
                                   -2147483648.5, 4294967296.0, 9.3e18, 65535.5, 32767.5, -32768.5,
                                   2958465.99999, 2958466.0, -657434.0, -657435.0, 1e10, INFINITY, -INFINITY, NAN};
    if (rng_.percent(60)) return rng_.pick(edges);
    const uint64_t b = rng_.bits();
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
  }
  VARIANT_BOOL boolean() {
    static const VARIANT_BOOL values[] = {VARIANT_TRUE, VARIANT_FALSE, 1, 0x1234};
    return rng_.pick(values);
  }

  // Null, empty, odd-length, member names, secrets, lone surrogates, NULs, long and megabyte-long.
  BSTR text() {
    static const wchar_t alphabet[] = L"aZ09 .,:;%\"<>\\/\t\r\n\xD800\xDBFF\xDC00\xDFFF\xFFFF\xFEFF\x00E9\x4E2D";
    static const wchar_t* const secrets[] = {L"PWD=secret", L"Password=\"a;b\"c", L"mailto:a@b.c",
                                             L"DSN=x;UID=sa;PWD=\tsec;ret", L"Extended Properties=\"PWD=y\""};
    std::wstring s;
    switch (rng_.below(12)) {
      case 0: return nullptr;
      case 1: return SysAllocString(L"");
      case 2: {
        char bytes[15];
        const UINT n = 1 + 2 * rng_.below(7);
        for (UINT i = 0; i < n; ++i) bytes[i] = static_cast<char>(rng_.bits());
        return SysAllocStringByteLen(bytes, n);
      }
      case 3:
        s = names.empty() ? L"x" : names[rng_.below(names.size())];
        for (wchar_t& c : s) c = rng_.percent(30) ? (c ^ 0x20) : c;
        break;
      case 4: s = secrets[rng_.below(std::size(secrets))]; break;
      case 5:
        s.assign(rng_.percent(3) ? 1u << 20 : 4096 + rng_.below(60000), static_cast<wchar_t>(L'a' + rng_.below(26)));
        for (int i = 0; i < 8; ++i) s[rng_.below(s.size())] = alphabet[rng_.below(std::size(alphabet))];
        break;
      default:
        for (uint32_t n = rng_.below(24); n > 0; --n)
          s += rng_.percent(20) ? static_cast<wchar_t>(rng_.bits()) : alphabet[rng_.below(std::size(alphabet))];
    }
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  }

  // A random tree in `v`; `up` holds its ancestors, which a reference may point back at.
  void fill(VARIANT* v, int depth, std::vector<VARIANT*>& up) {
    static const VARTYPE odd[] = {VT_VOID, VT_HRESULT, VT_PTR, VT_LPSTR, VT_CLSID, 0x7FFF, VT_BYREF,
                                  VT_BYREF | VT_EMPTY, VT_ARRAY, VT_ARRAY | VT_I4, VT_VECTOR | VT_I4};
    std::memset(v, 0, sizeof *v);
    const uint32_t r = rng_.below(100);
    if (r < 8 && depth < 3) return array(v, depth, up);
    if (r < 16 && arena) return reference(v, depth, up);
    if (r < 19) {
      v->vt = VT_BYREF | VT_VARIANT;
      v->pvarVal = up.empty() || rng_.percent(30) ? v : up[rng_.below(up.size())];
      return;
    }
    if (r < 21) {
      v->vt = rng_.pick(odd);  // every field zero: any pointer in it is null
      return;
    }
    scalar(v, rng_.pick(kScalars));
  }
  void fill(VARIANT* v) {
    std::vector<VARIANT*> up;
    fill(v, 0, up);
  }

  void scalar(VARIANT* v, VARTYPE vt) {
    std::memset(v, 0, sizeof *v);
    switch (vt) {
      case VT_R4: v->fltVal = static_cast<float>(real()); break;
      case VT_R8:
      case VT_DATE: v->dblVal = real(); break;
      case VT_BSTR: v->bstrVal = text(); break;
      case VT_BOOL: v->boolVal = boolean(); break;
      case VT_ERROR: v->scode = rng_.percent(50) ? DISP_E_PARAMNOTFOUND : static_cast<SCODE>(integer()); break;
      case VT_DECIMAL: {
        DECIMAL& d = v->decVal;  // overlays the type field, set below
        d.scale = static_cast<BYTE>(rng_.percent(80) ? rng_.below(29) : rng_.bits());
        d.sign = static_cast<BYTE>(rng_.percent(80) ? (rng_.percent(50) ? 0 : DECIMAL_NEG) : rng_.bits());
        d.Hi32 = static_cast<ULONG>(integer());
        d.Lo64 = static_cast<ULONGLONG>(integer());
        break;
      }
      case VT_DISPATCH:
      case VT_UNKNOWN: v->pdispVal = object ? object() : nullptr; break;
      case VT_RECORD: v->pvRecord = arena && rng_.percent(50) ? arena->cell() : nullptr; break;
      case VT_EMPTY:
      case VT_NULL: break;
      default: v->llVal = integer();  // the narrower integers read their low bytes
    }
    v->vt = vt;
  }

 private:
  static constexpr VARTYPE kScalars[] = {VT_EMPTY, VT_NULL, VT_I1,   VT_I2,   VT_I4,       VT_I8,       VT_UI1,
                                         VT_UI2,   VT_UI4,  VT_UI8,  VT_INT,  VT_UINT,     VT_R4,       VT_R8,
                                         VT_CY,    VT_DATE, VT_BSTR, VT_BOOL, VT_ERROR,    VT_DECIMAL,  VT_DISPATCH,
                                         VT_UNKNOWN, VT_RECORD};
  static constexpr VARTYPE kElements[] = {VT_VARIANT, VT_VARIANT, VT_UI1, VT_I1,   VT_I2,    VT_UI2,     VT_I4,
                                          VT_UI4,     VT_INT,     VT_UINT, VT_I8,  VT_UI8,   VT_R4,      VT_R8,
                                          VT_CY,      VT_DATE,    VT_BSTR, VT_BOOL, VT_ERROR, VT_DECIMAL, VT_DISPATCH,
                                          VT_UNKNOWN};

  // 1 to 3 dimensions, 0 to 4 elements each with odd lower bounds, now and then a large byte
  // array; the element may be another array or a reference back up the tree.
  void array(VARIANT* v, int depth, std::vector<VARIANT*>& up) {
    const VARTYPE type = rng_.pick(kElements);
    const UINT dims = 1 + rng_.below(3);
    SAFEARRAYBOUND bounds[3];
    size_t count = 1;
    for (UINT d = 0; d < dims; ++d) {
      bounds[d].cElements = rng_.percent(15) ? 0 : rng_.below(5);
      bounds[d].lLbound = rng_.percent(70) ? static_cast<LONG>(rng_.below(11)) - 5 : static_cast<LONG>(integer());
      count *= bounds[d].cElements;
    }
    const bool large = dims == 1 && type == VT_UI1 && rng_.percent(10);
    if (large) count = bounds[0].cElements = 1u << (16 + rng_.below(7));
    SAFEARRAY* a = SafeArrayCreate(type, dims, bounds);
    v->vt = VT_ARRAY | (rng_.percent(2) ? rng_.pick(kElements) : type);  // now and then a lying tag
    v->parray = a;
    if (!a) return;
    auto* data = static_cast<char*>(a->pvData);
    if (large) {
      std::memset(data, static_cast<int>(rng_.bits()), count);
      return;
    }
    up.push_back(v);
    for (size_t i = 0; i < count; ++i) {
      char* element = data + i * a->cbElements;
      if (type == VT_VARIANT) {
        fill(reinterpret_cast<VARIANT*>(element), depth + 1, up);
      } else {
        VARIANT item;
        scalar(&item, type);  // ownership of a string or object moves into the array
        std::memcpy(element, type == VT_DECIMAL ? static_cast<void*>(&item.decVal) : &item.llVal, a->cbElements);
      }
    }
    up.pop_back();
  }

  // A reference to a value in a cell of the arena, or a null reference.
  void reference(VARIANT* v, int depth, std::vector<VARIANT*>& up) {
    static const VARTYPE types[] = {VT_I1,  VT_I2,   VT_I4,    VT_I8,       VT_UI1,      VT_UI2,     VT_UI4,
                                    VT_UI8, VT_INT,  VT_UINT,  VT_R4,       VT_R8,       VT_CY,      VT_DATE,
                                    VT_BSTR, VT_BOOL, VT_ERROR, VT_DECIMAL, VT_DISPATCH, VT_UNKNOWN, VT_VARIANT,
                                    VT_VARIANT, VT_ARRAY | VT_VARIANT};
    const VARTYPE vt = rng_.pick(types);
    v->vt = VT_BYREF | vt;
    if (rng_.percent(10)) return;  // a null reference
    VARIANT* c = arena->cell();
    up.push_back(v);
    if (vt == VT_VARIANT) fill(c, depth + 1, up);
    else if (vt & VT_ARRAY) array(c, depth + 1, up);
    else scalar(c, vt);
    up.pop_back();
    if (vt == VT_VARIANT) v->pvarVal = c;
    else if (vt & VT_ARRAY) v->pparray = &c->parray;
    else if (vt == VT_DECIMAL) v->pdecVal = &c->decVal;
    else v->byref = &c->llVal;
  }

  Rng& rng_;
};

}  // namespace fuzz
