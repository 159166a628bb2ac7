// XSL transformation on libxml2 and libxslt. Any number of Lua states on any threads may
// run it at once, so every diagnostic goes to the calling thread's own collector:
// libxml2's handlers are per thread and are set for the call and restored after it; the
// two hooks libxslt keeps process-wide are installed only while at least one call runs.
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/documents.h>
#include <libxslt/extensions.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include <lua.hpp>

#include "lex_input.h"
#include "vexo/io.h"

namespace vexo::io {

namespace {

// Neither XML_PARSE_NOENT nor DTDLOAD/DTDATTR/DTDVALID: external entities and DTDs stay
// unread. NOCDATA because XPath sees CDATA sections as plain text.
constexpr int kLoadOptions = XML_PARSE_NONET | XML_PARSE_NOCDATA;
constexpr int kEntityOptions = XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR | XML_PARSE_DTDVALID;
// A description longer than this is cut (a runaway xsl:message loop must not exhaust memory).
constexpr size_t kMaxDescription = 16384;

constexpr char kNoDom[] = "\"Failed to instantiate an XML DOM.\"";
constexpr char kNoDescription[] = "\"Transformation failed.\"";
constexpr char kNoErrorRecord[] = "Unable to get error information.\n";
constexpr char kBadName[] = "\"Invalid file name.\"";

// What one call collects from libxml2 and libxslt.
struct Diagnostics {
    bool loading = false;       // inside one of the call's own two document loads
    bool haveLoadError = false;
    bool loadErrorIsWarning = false;
    xmlError loadError{};       // first error of the load, else its last warning (owned copy)
    std::string description;    // everything reported after the loads
    xsltSecurityPrefsPtr security = nullptr;

    ~Diagnostics() { xmlResetError(&loadError); }
};

thread_local Diagnostics *tDiagnostics = nullptr;

// Formats a printf-style message whole; false when memory runs out.
bool formatMessage(std::string &out, const char *pattern, va_list args) noexcept
{
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    bool done = false;
    if (length >= 0) {
        try {
            out.resize(static_cast<size_t>(length) + 1);
            std::vsnprintf(out.data(), out.size(), pattern, again);
            out.pop_back();
            done = true;
        } catch (const std::bad_alloc &) {
        }
    }
    va_end(again);
    return done;
}

void appendDescription(Diagnostics *d, const char *text, size_t length) noexcept
{
    if (d->description.size() + length > kMaxDescription) {
        length = kMaxDescription - std::min(d->description.size(), kMaxDescription);
        // Cut before a whole UTF-8 sequence.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    try {
        d->description.append(text, length);
    } catch (const std::bad_alloc &) {
        // The description stays shorter; the failure itself is still reported.
    }
}

void appendFormatted(Diagnostics *d, const char *format, va_list args) noexcept
{
    std::string text;
    if (formatMessage(text, format, args))
        appendDescription(d, text.data(), text.size());
}

void collectStructured(void *context, xmlErrorPtr error)
{
    auto *d = static_cast<Diagnostics *>(context);
    if (d == nullptr || error == nullptr || error->level == XML_ERR_NONE)
        return;
    if (d->loading) {
        // A missing file is only a warning to libxml2, so the last warning counts when
        // no error follows; of several errors the first is the cause.
        if (!d->haveLoadError || d->loadErrorIsWarning) {
            if (xmlCopyError(error, &d->loadError) == 0) {
                d->haveLoadError = true;
                d->loadErrorIsWarning = error->level == XML_ERR_WARNING;
            }
        }
        return;
    }
    if (error->level >= XML_ERR_ERROR && error->message != nullptr)
        appendDescription(d, error->message, std::strlen(error->message));
}

void collectGeneric(void *context, const char *format, ...)
{
    auto *d = static_cast<Diagnostics *>(context);
    if (d == nullptr)
        return;
    va_list args;
    va_start(args, format);
    appendFormatted(d, format, args);
    va_end(args);
}

// ---- libxslt's process-wide hooks ---------------------------------------------
// libxslt reports style sheet compilation errors through one process-wide function and
// loads imported style sheets through one process-wide loader. While calls run, both
// are replaced by dispatchers that serve the calling thread's collector and pass every
// other thread on to what was installed before.
std::mutex gHookMutex;
int gActiveCalls = 0;
// Without the format attribute of xmlGenericErrorFunc, which std::atomic would drop.
using ErrorFunction = void (*)(void *, const char *, ...);
std::atomic<ErrorFunction> gOuterError{nullptr};
std::atomic<void *> gOuterErrorContext{nullptr};
std::atomic<xsltDocLoaderFunc> gOuterLoader{nullptr};

void dispatchXsltError(void *context, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (tDiagnostics != nullptr) {
        appendFormatted(tDiagnostics, format, args);
    } else if (ErrorFunction outer = gOuterError.load(); outer != nullptr) {
        std::string text;
        if (formatMessage(text, format, args))
            outer(context, "%s", text.c_str());
    }
    va_end(args);
}

// Style sheets imported or included, and documents read by document(), load like the
// call's own files: network reads refused, no entities or DTDs.
xmlDocPtr dispatchLoad(const xmlChar *uri, xmlDictPtr dict, int options, void *context, xsltLoadType type)
{
    const xsltDocLoaderFunc outer = gOuterLoader.load();
    Diagnostics *d = tDiagnostics;
    if (d == nullptr)
        return outer(uri, dict, options, context, type);
    auto *transformContext = type == XSLT_LOAD_DOCUMENT ? static_cast<xsltTransformContextPtr>(context) : nullptr;
    if (xsltCheckRead(d->security, transformContext, uri) != 1)
        return nullptr;
    return outer(uri, dict, (options & ~kEntityOptions) | kLoadOptions, context, type);
}

void enterHooks()
{
    std::lock_guard<std::mutex> lock(gHookMutex);
    if (gActiveCalls++ > 0)
        return;
    gOuterError = xsltGenericError;
    gOuterErrorContext = xsltGenericErrorContext;
    gOuterLoader = xsltDocDefaultLoader;
    xsltSetGenericErrorFunc(gOuterErrorContext.load(), dispatchXsltError);
    xsltSetLoaderFunc(dispatchLoad);
}

void leaveHooks()
{
    std::lock_guard<std::mutex> lock(gHookMutex);
    if (--gActiveCalls > 0)
        return;
    xsltSetGenericErrorFunc(gOuterErrorContext.load(), gOuterError.load());
    xsltDocDefaultLoader = gOuterLoader.load();
}

// Sets the calling thread's libxml2 handlers to the collector and the hooks for the
// lifetime of a call; everything, the thread's last-error record included, is put back.
class CallScope {
public:
    explicit CallScope(Diagnostics *d)
        : structured_(xmlStructuredError), structuredContext_(xmlStructuredErrorContext),
          generic_(xmlGenericError), genericContext_(xmlGenericErrorContext)
    {
        xmlCopyError(&xmlLastError, &lastError_);
        xmlSetStructuredErrorFunc(d, collectStructured);
        xmlSetGenericErrorFunc(d, collectGeneric);
        enterHooks();
        tDiagnostics = d;
    }
    ~CallScope()
    {
        tDiagnostics = nullptr;
        leaveHooks();
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
        xmlSetGenericErrorFunc(genericContext_, generic_);
        xmlCopyError(&lastError_, &xmlLastError);
        xmlResetError(&lastError_);
    }
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

private:
    xmlStructuredErrorFunc structured_;
    void *structuredContext_;
    xmlGenericErrorFunc generic_;
    void *genericContext_;
    xmlError lastError_{};
};

void initialiseLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xsltInitGlobals();
        xsltInit();
    });
}

// ---- Resources ----------------------------------------------------------------
struct FreeText { void operator()(void *p) const { std::free(p); } };
struct FreeXmlText { void operator()(xmlChar *p) const { xmlFree(p); } };
struct FreeParser { void operator()(xmlParserCtxtPtr p) const { xmlFreeParserCtxt(p); } };
struct FreeDoc { void operator()(xmlDocPtr p) const { xmlFreeDoc(p); } };
struct FreeStyle { void operator()(xsltStylesheetPtr p) const { xsltFreeStylesheet(p); } };
struct FreeTransform { void operator()(xsltTransformContextPtr p) const { xsltFreeTransformContext(p); } };
struct FreeSecurity { void operator()(xsltSecurityPrefsPtr p) const { xsltFreeSecurityPrefs(p); } };

using Text = std::unique_ptr<char, FreeText>;
using Doc = std::unique_ptr<xmlDoc, FreeDoc>;

// What the call leaves on the Lua stack.
struct Outcome {
    bool success = false;
    std::unique_ptr<xmlChar, FreeXmlText> output;
    int outputLength = 0;
    HRESULT code = S_OK;
    std::string message;
    const char *fixedMessage = nullptr;  // used instead of message when set

    void fail(HRESULT failure, const char *text)
    {
        code = failure;
        fixedMessage = text;
    }
};

// "NAME (LINE, COLUMN): REASON\n" from the load's error record.
void failLoad(Outcome &out, const Diagnostics &d, const char *name)
{
    if (!d.haveLoadError) {
        out.fail(E_FAIL, kNoErrorRecord);
        return;
    }
    std::string reason = d.loadError.message != nullptr ? d.loadError.message : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    char place[48];
    std::snprintf(place, sizeof place, " (%d, %d): ", d.loadError.line, d.loadError.int2);
    out.code = d.loadError.code > 0 ? -static_cast<HRESULT>(d.loadError.code) : E_FAIL;
    out.message = std::string(name) + place + reason + "\n";
}

// "NAME: DESCRIPTION\n" from what libxslt and libxml2 reported, one message per line
// joined by "; ".
void failWithDescription(Outcome &out, HRESULT code, const Diagnostics &d, const char *name)
{
    std::string description;
    size_t start = 0;
    while (start < d.description.size()) {
        size_t end = d.description.find('\n', start);
        if (end == std::string::npos)
            end = d.description.size();
        size_t first = start, last = end;
        while (first < last && std::isspace(static_cast<unsigned char>(d.description[first])))
            ++first;
        while (last > first && std::isspace(static_cast<unsigned char>(d.description[last - 1])))
            --last;
        if (last > first) {
            if (!description.empty())
                description += "; ";
            description.append(d.description, first, last - first);
        }
        start = end + 1;
    }
    if (description.empty()) {
        out.fail(code, kNoDescription);
        return;
    }
    out.code = code;
    out.message = std::string(name) + ": " + description + "\n";
}

// Loads one file; on failure fills the outcome from the load's error record.
Doc load(Outcome &out, Diagnostics &d, const char *name)
{
    std::unique_ptr<xmlParserCtxt, FreeParser> parser(xmlNewParserCtxt());
    if (parser == nullptr) {
        out.fail(E_OUTOFMEMORY, kNoDom);
        return nullptr;
    }
    // The options must be in place before the file is opened, or NONET would not
    // cover the name itself.
    xmlCtxtUseOptions(parser.get(), kLoadOptions);
    d.loading = true;
    d.haveLoadError = false;
    Doc doc(xmlCtxtReadFile(parser.get(), name, nullptr, kLoadOptions));
    d.loading = false;
    // An undeclared namespace prefix leaves a document behind, but not a usable one.
    if (doc == nullptr || !parser->wellFormed || !parser->nsWellFormed) {
        if (!d.haveLoadError && parser->lastError.code != XML_ERR_OK) {
            xmlCopyError(&parser->lastError, &d.loadError);
            d.haveLoadError = true;
        }
        failLoad(out, d, name);
        return nullptr;
    }
    return doc;
}

xsltSecurityPrefsPtr newSecurity()
{
    xsltSecurityPrefsPtr security = xsltNewSecurityPrefs();
    if (security == nullptr)
        return nullptr;
    for (xsltSecurityOption option : {XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                      XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK}) {
        if (xsltSetSecurityPrefs(security, option, xsltSecurityForbid) != 0) {
            xsltFreeSecurityPrefs(security);
            return nullptr;
        }
    }
    return security;
}

void run(Outcome &out, const VexoChar *styleSheetName, const VexoChar *documentName)
{
    if (styleSheetName == nullptr || documentName == nullptr) {
        out.fail(E_INVALIDARG, kBadName);
        return;
    }
    bool invalid = false;
    Text documentPath(toUtf8(documentName, &invalid));
    Text styleSheetPath(documentPath != nullptr ? toUtf8(styleSheetName, &invalid) : nullptr);
    if (styleSheetPath == nullptr) {
        out.fail(invalid ? E_INVALIDARG : E_OUTOFMEMORY, invalid ? kBadName : kNoDom);
        return;
    }
    initialiseLibraries();

    Diagnostics d;
    const CallScope scope(&d);
    std::unique_ptr<xsltSecurityPrefs, FreeSecurity> security(newSecurity());
    if (security == nullptr) {
        out.fail(E_OUTOFMEMORY, kNoDom);
        return;
    }
    d.security = security.get();

    Doc document = load(out, d, documentPath.get());
    if (document == nullptr)
        return;
    Doc styleDoc = load(out, d, styleSheetPath.get());
    if (styleDoc == nullptr)
        return;
    // The compiled style sheet owns its document from here on, but only on success.
    std::unique_ptr<xsltStylesheet, FreeStyle> style(xsltParseStylesheetDoc(styleDoc.get()));
    if (style == nullptr) {
        failWithDescription(out, E_INVALIDARG, d, styleSheetPath.get());
        return;
    }
    styleDoc.release();

    std::unique_ptr<xsltTransformContext, FreeTransform> context(xsltNewTransformContext(style.get(), document.get()));
    if (context == nullptr) {
        out.fail(E_OUTOFMEMORY, kNoDom);
        return;
    }
    xsltSetTransformErrorFunc(context.get(), &d, collectGeneric);
    xsltSetCtxtParseOptions(context.get(), kLoadOptions);
    if (xsltSetCtxtSecurityPrefs(security.get(), context.get()) != 0) {
        out.fail(E_OUTOFMEMORY, kNoDom);
        return;
    }
    Doc result(xsltApplyStylesheetUser(style.get(), document.get(), nullptr, nullptr, nullptr, context.get()));
    if (result == nullptr || context->state != XSLT_STATE_OK) {
        failWithDescription(out, E_FAIL, d, documentPath.get());
        return;
    }
    xmlChar *text = nullptr;
    int length = 0;
    if (xsltSaveResultToString(&text, &length, result.get(), style.get()) != 0) {
        xmlFree(text);
        failWithDescription(out, E_FAIL, d, documentPath.get());
        return;
    }
    out.output.reset(text);
    out.outputLength = text != nullptr ? length : 0;
    out.success = true;
}

void transform(Outcome &out, const VexoChar *styleSheetName, const VexoChar *documentName) noexcept
{
    try {
        run(out, styleSheetName, documentName);
    } catch (const std::bad_alloc &) {
        out.success = false;
        out.fail(E_OUTOFMEMORY, kNoDom);
    }
}

int pushOutcome(lua_State *L)
{
    const auto *out = static_cast<const Outcome *>(lua_touserdata(L, 1));
    if (out->success) {
        const char *text = reinterpret_cast<const char *>(out->output.get());
        lua_pushlstring(L, text != nullptr ? text : "", static_cast<size_t>(out->outputLength));
        return 1;
    }
    lua_pushnil(L);
    lua_pushinteger(L, static_cast<lua_Integer>(out->code));
    if (out->fixedMessage != nullptr)
        lua_pushstring(L, out->fixedMessage);
    else
        lua_pushlstring(L, out->message.data(), out->message.size());
    return 3;
}

}  // namespace

}  // namespace vexo::io

using namespace vexo::io;

VEXO_API int Vexo_xslTransform(lua_State *L, const VexoChar *styleSheet, const VexoChar *document)
{
    if (L == nullptr)
        return 0;
    luaL_checkstack(L, 4, "XSLtransform");
    const int top = lua_gettop(L);
    // Pushed before any work so that the only Lua allocations afterwards run protected:
    // a Lua memory error must not jump over the outcome's destructors.
    lua_pushcfunction(L, pushOutcome);
    int status = 0;
    {
        Outcome out;
        transform(out, styleSheet, document);
        lua_pushlightuserdata(L, &out);
        status = lua_pcall(L, 1, LUA_MULTRET, 0);
    }
    if (status != 0)
        lua_error(L);
    return lua_gettop(L) - top;
}
