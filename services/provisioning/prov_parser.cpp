// The connectivity-document parser: WBXML callbacks that turn characteristics
// and parms into a settings tree (proxies, access points, bootstrap services,
// mail servers), ready for the writer to copy into "//access".
#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "services/provisioning/prov.h"
#include "services/provisioning/prov_internal.h"
#include "services/provisioning/prov_tokens.h"

namespace {

constexpr uint32_t kModule = Mod::Provisioning;
constexpr uint32_t kElemDocument = 5, kElemCharacteristic = 6, kElemParm = 7;
constexpr uint32_t kAttrName = 5, kAttrValue = 6, kAttrType = 80;

ProvParser* Of(WbxmlHandler* h) { return reinterpret_cast<ProvParser*>(h); }

// The tree path a characteristic type opens; null keeps the one in effect.
const char* PathOfType(uint32_t type) {
  switch (type) {
    case ProvType::PxLogical:
    case ProvType::Bootstrap:
    case ProvType::VendorConfig:
      return "";
    case ProvType::NapDef:
      return "isp/new";
    case ProvType::Email:
      return "email";
    case ProvType::Pop3:
      return "email/pop3";
    case ProvType::Smtp:
      return "email/smtp";
    default:
      return nullptr;
  }
}

uint32_t ParentType(const ProvParser* p) {
  return p->depth >= 2 ? p->typeStack[p->depth - 2] : kProvNone;
}

ProvProxy* ProxyOf(ProvParser* p, uint32_t type) {
  if (type == ProvType::PxPhysical) return &p->physical;
  if (type == ProvType::PxLogical) return &p->logical;
  return nullptr;
}

// A new UTF-8 copy of the value (an empty text for none); null without memory.
char* Utf8(const char16_t* value) {
  if (!value || !*value) return LibcStrDup("");
  char* text = nullptr;
  return LngWideToCharset(&text, value, 106) == kOk ? text : nullptr;
}

Result KeepUtf8(char** slot, const char16_t* value, bool firstOnly) {
  if (firstOnly && *slot) return kOk;
  char* text = Utf8(value);
  if (!text) return ProvCode::NoMemory;
  MemFree(slot);
  *slot = text;
  return kOk;
}

Result SetString(ProvParser* p, const char* key, const char16_t* value, uint32_t maxBytes = 0) {
  char* text = Utf8(value);
  if (!text) return ProvCode::NoMemory;
  if (maxBytes && LibcStrLen(text) > maxBytes) text[maxBytes] = 0;
  const Result r = ConfigSetString(p->tree, key, text);
  MemFree(&text);
  return r;
}

Result SetInt(ProvParser* p, const char* key, int32_t value) {
  return ConfigSetInt(p->tree, key, value);
}

Result AppendDomain(ProvProxy* proxy, const char16_t* value) {
  char* text = Utf8(value);
  if (!text) return ProvCode::NoMemory;
  const uint32_t old = proxy->domains ? LibcStrLen(proxy->domains) : 0;
  const uint32_t add = LibcStrLen(text);
  auto* joined = static_cast<char*>(MemAlloc(old + add + 2, Use::String, kModule));
  if (!joined) {
    MemFree(&text);
    return ProvCode::NoMemory;
  }
  joined[0] = 0;
  if (proxy->domains) {
    LibcStrCopy(joined, proxy->domains);
    LibcStrCat(joined, ";");
  }
  LibcStrCat(joined, text);
  MemFree(&text);
  MemFree(&proxy->domains);
  proxy->domains = joined;
  return kOk;
}

// "internet" in any case stands for any access point.
bool IsInternet(const char16_t* value) {
  return value && LngCompareNarrowWideNoCase("internet", value) == 0;
}

Result TargetAp(ProvParser* p, const char* key, const char16_t* value) {
  const bool internet = IsInternet(value);
  if (p->type == ProvType::PxPhysical) {
    char* text = Utf8(internet ? u"*" : value);
    if (!text) return ProvCode::NoMemory;
    LibcStrNCopy(p->targetAp, text, 16);
    p->targetAp[16] = 0;
    MemFree(&text);
    return kOk;
  }
  if (p->type == ProvType::NapDef || p->type == ProvType::Email)
    return SetString(p, key, (internet && p->type == ProvType::Email) ? u"*" : value, 16);
  return kOk;
}

Result AuthParm(ProvParser* p, uint32_t name, const char16_t* value) {
  if (p->authSlot >= 2) return kOk;
  ProvAuthSlot* slot = &p->auth[p->authSlot];
  if (name == 26) return KeepUtf8(&slot->name, value, true);
  if (name == 27) return KeepUtf8(&slot->password, value, true);
  const uint32_t kind = ProvTokenOfName(value);
  const bool basic = kind == 156 || kind == 157, wtls = kind == 158;
  if (!basic && !wtls) return kOk;
  if (p->authSlot == 1 && ((basic && p->auth[0].basicOrDigest) || (wtls && p->auth[0].wtls)))
    return kOk;
  slot->basicOrDigest = basic;
  slot->wtls = wtls;
  return kOk;
}

int32_t Int(const char16_t* value) { return value ? LibcWtoI(value) : 0; }

// One parm with its value (null without one).
Result Dispatch(ProvParser* p, uint32_t name, const char16_t* value) {
  const uint32_t t = p->type;
  switch (name) {
    case 7:  // NAME
      if (t == ProvType::PxLogical || t == ProvType::Bootstrap) return KeepUtf8(&p->name, value, false);
      if (t == ProvType::NapDef || t == ProvType::VendorConfig || t == ProvType::Smtp)
        return SetString(p, "name", value);
      return kOk;
    case 8:
      return SetString(p, "addr", value);
    case 9:
      return Dispatch(p, 33, value);
    case 10: {
      const uint32_t v = ProvTokenOfName(value);
      return SetInt(p, "calltype", v == 145 || v == 146 ? 1 : (v >= 147 && v <= 149 ? 2 : 0));
    }
    case 13:
      return SetString(p, "user", value);
    case 14:
      return SetString(p, "pass", value);
    case 15:
      return SetInt(p, t == ProvType::NapDef ? "nettimeout" : "keepalive", Int(value));
    case 16: {
      const uint32_t v = ProvTokenOfName(value);
      if (v == 165) return SetInt(p, "bearer", 2);
      // 168 has no name in the table: it comes as an empty value from its token.
      const bool token168 = (!value || !*value) && p->namelessValue == 168;
      if (v == 170 || v == 166 || token168 || (value && LibcWtoI(value) == 168))
        return SetInt(p, "bearer", 0);
      p->unsupportedBearer = 1;
      return kOk;
    }
    case 17:
      return TargetAp(p, "id", value);
    case 20:
      return SetInt(p, "internet", 1);
    case 23:
      return AppendDomain(t == ProvType::PxPhysical ? &p->physical : &p->logical, value);
    case 24: {
      Result r = KeepUtf8(&p->startPage, value, false);
      if (r != kOk) return r;
      UrlParsed url{};
      if (UrlParse(&url, p->startPage, 0) != kOk) return ProvCode::NoMemory;
      if (url.host && *url.host) r = ConfigSetString(p->tree, "url", url.host);
      UrlFreeParsed(&url);
      return r;
    }
    case 25:
    case 26:
    case 27:
      return AuthParm(p, name, value);
    case 28:
      return KeepUtf8(&p->startPage, value, true);
    case 29:
      return KeepUtf8(&p->authName, value, false);
    case 30:
      return KeepUtf8(&p->authPassword, value, false);
    case 31:
      (t == ProvType::PxPhysical ? p->physical : p->logical).pushEnabled = Int(value);
      return kOk;
    case 32:
      if (p->depth != 2) return kOk;
      if (t == ProvType::PxPhysical) return KeepUtf8(&p->proxyAddress, value, false);
      return SetString(p, "server", value);
    case 33: {
      const uint32_t v = ProvTokenOfName(value);
      if (t == ProvType::PxPhysical) p->proxyAddressType = v;
      if (t == ProvType::NapDef && v >= 133 && v <= 140) return SetInt(p, "addrtype", v - 133);
      return kOk;
    }
    case 34:
      return TargetAp(p, "isp", value);
    case 35:
    case 36: {
      if (p->depth <= 1) return kOk;
      ProvProxy* proxy = ProxyOf(p, ParentType(p));
      if (name == 35) {
        if (proxy) {
          proxy->pendingPort = static_cast<uint16_t>(Int(value));
          return kOk;
        }
        return SetInt(p, "port", Int(value));
      }
      const uint32_t v = ProvTokenOfName(value);
      if (proxy && v >= 202 && v <= 207) proxy->pendingServices |= 1u << (v - 202);
      return kOk;
    }
    case 39:
      if (t != ProvType::NapDef) return kOk;
      if (Result r = SetString(p, "localip", value); r != kOk) return r;
      return SetInt(p, "nonegip", 1);
    case 41:
      if (p->slot == 0) {
        p->contextAllowSet = 1;
        p->contextAllow = Int(value);
      }
      return kOk;
    case 43:
      if (t == ProvType::PxLogical) p->logical.master = 1;
      return kOk;
    case 0xFF05:
      return SetInt(p, "keepalivemax", Int(value));
    case 0xFF06:
      return SetInt(p, "retrievelimit", Int(value));
    case 0xFF07:
      return SetString(p, "address", value);
    case 0xFF08:
      return SetString(p, "dns", value);
    case 0xFF09:
      return SetInt(p, "nonegdns", 1);
    case 0xFF0A:
      if (t == ProvType::PxPhysical)
        p->proxyIsHttp = 1;
      else
        p->isHttp = 1;
      return kOk;
    case 0xFF0B:
      return t == ProvType::PxPhysical ? KeepUtf8(&p->exclude, value, true) : kOk;
    case 0xFF0C:
      if (t == ProvType::PxLogical) {
        const uint32_t v = ProvTokenOfName(value);
        p->accessLevel = v == 0xFF06 ? 1 : (v == 0xFF07 ? 2 : 0);
      }
      return kOk;
    default:
      return kOk;
  }
}

Result DispatchIfAllowed(ProvParser* p, uint32_t name, const char16_t* value) {
  const bool known = (name >= 5 && name <= 48) || (name >= 0xFF05 && name <= 0xFF0C);
  if (!known || !ProvKnownType(p->type)) return kOk;
  return Dispatch(p, name, value);
}

void ClearProxy(ProvProxy* proxy) {
  MemFree(&proxy->domains);
  *proxy = ProvProxy{};
}

Result CopyProxy(ProvProxy* to, const ProvProxy* from) {
  ClearProxy(to);
  *to = *from;
  to->domains = nullptr;
  if (from->domains && !(to->domains = LibcStrDup(from->domains))) return ProvCode::NoMemory;
  return kOk;
}

void ClearAuth(ProvAuthSlot* slot) {
  MemFree(&slot->name);
  MemFree(&slot->password);
  *slot = ProvAuthSlot{};
}

void ClearBootstrap(ProvParser* p) {
  MemFree(&p->name);
  MemFree(&p->startPage);
  MemFree(&p->authName);
  MemFree(&p->authPassword);
  p->isHttp = 0;
}

void ClearPhysical(ProvParser* p) {
  ClearProxy(&p->physical);
  MemFree(&p->proxyAddress);
  MemFree(&p->exclude);
  p->proxyAddressType = 0;
  p->proxyIsHttp = 0;
  p->targetAp[0] = 0;
}

Result OnDocumentAttribute(uint32_t token, const char16_t* value) {
  if ((token == 69 || token == 70) && Int(value) > 1) return ProvCode::Refused;
  return kOk;
}

Result OnCharacteristicAttribute(ProvParser* p, uint32_t token, const char16_t* value) {
  if (p->attributes != 1 || p->depth == 0) return kOk;
  const uint32_t type = token == kAttrType ? ProvTokenOfName(value) : token;
  if (!ProvKnownType(type) || type == kAttrType) return kOk;
  p->typeStack[p->depth - 1] = type;
  p->type = type;
  if (type == ProvType::PxPhysical && ParentType(p) == ProvType::PxLogical)
    if (Result r = CopyProxy(&p->physical, &p->logical); r != kOk) return r;
  const char* path = PathOfType(type);
  if (!path) return kOk;
  p->pathStack[p->depth - 1] = path;
  return ProvOpenTreePath(p, path);
}

Result OnAttributeValue(ProvParser* p, uint32_t token, const char16_t* value);

Result OnAttribute(WbxmlHandler* h, uint32_t token, const char16_t* value, uint32_t) {
  ProvParser* p = Of(h);
  const Result r = OnAttributeValue(p, token, value);
  p->namelessValue = kProvNone;
  return r;
}

Result OnAttributeValue(ProvParser* p, uint32_t token, const char16_t* value) {
  if (p->skip) return kOk;
  ++p->attributes;
  switch (p->element) {
    case kElemDocument:
      return OnDocumentAttribute(token, value);
    case kElemCharacteristic:
      return OnCharacteristicAttribute(p, token, value);
    case kElemParm:
      if (token == kAttrName) {
        p->pendingName = ProvTokenOfName(value);
        return kOk;
      }
      if (token == kAttrValue) {
        const uint32_t name = p->pendingName;
        p->pendingName = kProvNone;
        return name == kProvNone ? kOk : DispatchIfAllowed(p, name, value);
      }
      p->pendingName = token;
      return kOk;
    default:
      return kOk;
  }
}

Result OnEndAttributes(WbxmlHandler* h) {
  ProvParser* p = Of(h);
  Result r = kOk;
  if (p->pendingName != kProvNone && p->element == kElemParm && !p->skip)
    r = DispatchIfAllowed(p, p->pendingName, nullptr);
  p->pendingName = kProvNone;
  p->namelessValue = kProvNone;
  p->skip = 0;
  p->attributes = 0;
  return r;
}

Result OnElementBegin(WbxmlHandler* h, uint32_t token) {
  ProvParser* p = Of(h);
  switch (token) {
    case kElemDocument:
      p->element = token;
      return kOk;
    case kElemParm:
      p->element = token;
      p->pendingName = kProvNone;
      return kOk;
    case kElemCharacteristic:
      if (p->depth >= kProvMaxDepth) return ProvCode::Cancelled;
      p->element = token;
      p->typeStack[p->depth] = kProvNone;
      p->pathStack[p->depth] = p->depth ? p->pathStack[p->depth - 1] : "";
      ++p->depth;
      p->type = kProvNone;
      return kOk;
    default:
      p->skip = 1;
      return kOk;
  }
}

// A bootstrap (or logical proxy) ends: its service is written when it has
// both a name and a start page.
Result EndBootstrap(ProvParser* p, uint32_t type) {
  Result r = kOk;
  if (type == ProvType::Bootstrap && p->startPage && !p->name)
    r = LngWideToCharset(&p->name, UiGetString(17, 5), 106) == kOk ? kOk : ProvCode::NoMemory;
  if (r == kOk && p->name && p->startPage) {
    UrlParsed url{};
    r = UrlParse(&url, p->startPage, 0);
    if (r == kOk && url.scheme && !p->isHttp && LibcStrICmp(url.scheme, "http") == 0) {
      MemFree(&url.scheme);
      url.scheme = LibcStrDup("wsp");
      if (!url.scheme) r = ProvCode::NoMemory;
    }
    if (r == kOk && p->authName) {
      MemFree(&url.user);
      if (!(url.user = LibcStrDup(p->authName))) r = ProvCode::NoMemory;
    }
    if (r == kOk && p->authPassword) {
      MemFree(&url.password);
      if (!(url.password = LibcStrDup(p->authPassword))) r = ProvCode::NoMemory;
    }
    char* text = nullptr;
    if (r == kOk) r = UrlToString(&text, &url, 0);
    UrlFreeParsed(&url);
    if (r == kOk) r = ProvWriteService(p, p->name, text);
    MemFree(&text);
  }
  ClearBootstrap(p);
  ClearProxy(&p->logical);
  return r;
}

// A port ends: its number and services go to the proxy it belongs to.
void EndPort(ProvParser* p) {
  ProvProxy* proxy = ProxyOf(p, p->type);  // the parent is current again
  if (!proxy) return;
  uint32_t bits = proxy->pendingServices;
  if (!bits) {
    switch (proxy->pendingPort) {
      case 9200: bits = 1; break;
      case 9201: bits = 2; break;
      case 9202: bits = 4; break;
      case 9203: bits = 8; break;
      case 2805: bits = 16; break;
      case 2923: bits = 32; break;
      default: bits = 8; break;
    }
    proxy->lookedUpPort = proxy->pendingPort;
  }
  proxy->serviceMask |= bits;
  for (uint32_t i = 0; i < 6; ++i)
    if (bits & (1u << i)) proxy->ports[i] = proxy->pendingPort;
  proxy->pendingPort = 0;
  proxy->pendingServices = 0;
}

Result OnElementEnd(WbxmlHandler* h, uint32_t token) {
  ProvParser* p = Of(h);
  if (token != kElemCharacteristic || p->depth == 0) return kOk;
  const uint32_t closed = p->typeStack[p->depth - 1];
  --p->depth;
  p->type = p->depth ? p->typeStack[p->depth - 1] : kProvNone;
  Result r = kOk;
  switch (closed) {
    case ProvType::PxLogical:
    case ProvType::Bootstrap:
      r = EndBootstrap(p, closed);
      break;
    case ProvType::PxPhysical:
      r = ProvWriteProxy(p);
      ClearPhysical(p);
      break;
    case ProvType::Port:
      EndPort(p);
      break;
    case ProvType::NapDef:
      r = ProvEndAccessPoint(p);
      p->unsupportedBearer = 0;
      break;
    case ProvType::PxAuthInfo: {
      ProvAuthSlot* slot = p->authSlot < 2 ? &p->auth[p->authSlot] : nullptr;
      if (slot && (slot->basicOrDigest || slot->wtls) && (slot->name || slot->password))
        ++p->authSlot;
      else if (slot)
        ClearAuth(slot);
      break;
    }
    default:
      break;
  }
  if (r != kOk) return r;
  return ProvOpenTreePath(p, p->depth ? p->pathStack[p->depth - 1] : "");
}

// A start token begins a new attribute; a value token without a name is
// remembered for the parm it belongs to.
const char* OnAttributeText(WbxmlHandler* h, uint32_t token) {
  ProvParser* p = Of(h);
  const char* name = ProvTokenName(token);
  if ((token & 0xFF) < 0x80)
    p->namelessValue = kProvNone;
  else if (!name)
    p->namelessValue = token;
  return name;
}

}  // namespace

Result ProvFlushPath(ProvParser* p) { return ProvOpenTreePath(p, nullptr); }

Result ProvOpenTreePath(ProvParser* p, const char* path) {
  // A commit that fails (memory running out) loses what the path held: the
  // document must fail with it.
  const Result closed = p->path && *p->path ? ConfigClose(p->tree, true) : kOk;
  p->path = nullptr;
  if (closed != kOk) return closed;
  if (!path || !*path) return kOk;
  const Result r = ConfigOpenPath(p->tree, path, 0, true);
  if (r == kOk) p->path = path;
  return r;
}

Result ProvParserInit(ProvParser* p, uint32_t mode) {
  p->handler = WbxmlHandler{nullptr,       nullptr,         nullptr,         OnElementBegin,
                            OnElementEnd,  OnAttribute,     OnEndAttributes, OnAttributeText,
                            nullptr};
  p->mode = mode;
  p->type = kProvNone;
  p->pendingName = kProvNone;
  p->namelessValue = kProvNone;
  if (WbxmlDecoderCreate(&p->decoder) != kOk) return ProvCode::NoMemory;
  if (ConfigCreate(&p->tree) != kOk) return ProvCode::NoMemory;
  return kOk;
}

Result ProvParserCreate(ProvParser** out, uint32_t mode) {
  *out = static_cast<ProvParser*>(MemAllocZero(sizeof(ProvParser), Use::Context, kModule));
  if (!*out) return ProvCode::NoMemory;
  const Result r = ProvParserInit(*out, mode);
  if (r != kOk) ProvParserFree(out);
  return r;
}

Result ProvParserFeed(ProvParser* p, Queue* data) {
  const Result r = WbxmlDecode(p->decoder, &p->handler, data);
  if ((r & 0xFFFF) == kWbxmlFinished && !ResultFailed(r))
    if (const Result closed = ProvFlushPath(p); closed != kOk) return closed;
  return r;
}

ConfigHandle* ProvParserTakeResult(ProvParser* p) {
  ProvFlushPath(p);
  ConfigHandle* tree = p->tree;
  p->tree = nullptr;
  return tree;
}

void ProvParserClear(ProvParser* p) {
  WbxmlDecoderFree(p->decoder);
  p->decoder = nullptr;
  if (p->tree) {
    ProvFlushPath(p);
    ConfigFreeHandle(&p->tree);
  }
  ClearBootstrap(p);
  ClearProxy(&p->logical);
  ClearPhysical(p);
  ClearAuth(&p->auth[0]);
  ClearAuth(&p->auth[1]);
}

void ProvParserFree(ProvParser** p) {
  if (!*p) return;
  ProvParserClear(*p);
  MemFree(p);
}
