// The JavaScript side of JsImports.h: each function forwards to the page's bridge object
// (Module.pdi, web/client/bridge.js), which does the work; the bytes between the two sides are
// copied here, where the WebAssembly memory is at hand.
#include "web/src/JsImports.h"

#include <emscripten.h>

// The JavaScript functions (js_…) are defined here and reached only through the functions of
// JsImports.h below: an import's name must be declared once, where it is defined.

EM_ASYNC_JS(int, js_fetch_open,
            (int method, const char* path, const char* authorization, const char* body, int bodyLength,
             int readTimeoutMs),
            {
              // The body is copied before the first wait: the memory may move while waiting.
              const payload = method == 1 ? HEAPU8.slice(body, body + bodyLength) : null;
              return await Module.pdi.fetchOpen(method, UTF8ToString(path), UTF8ToString(authorization), payload,
                                                readTimeoutMs);
            });

EM_JS(int, js_fetch_status, (int handle), { return Module.pdi.fetchStatus(handle); });

EM_JS(double, js_fetch_length, (int handle), { return Module.pdi.fetchLength(handle); });

EM_ASYNC_JS(int, js_fetch_read, (int handle, char* buffer, int capacity), {
  const piece = await Module.pdi.fetchRead(handle, capacity);
  if (typeof piece === 'number') return piece;
  HEAPU8.set(piece, buffer);
  return piece.length;
});

EM_JS(void, js_fetch_close, (int handle), { Module.pdi.fetchClose(handle); });

EM_JS(void, js_fetch_cancel_all, (), { Module.pdi.fetchCancelAll(); });

EM_ASYNC_JS(int, js_modal, (const char* json), {
  return await Module.pdi.modal(JSON.parse(UTF8ToString(json)));
});

EM_JS(void, js_busy, (int on, const char* caption), { Module.pdi.busy(on != 0, UTF8ToString(caption)); });

EM_JS(void, js_changed, (), { Module.pdi.changed(); });

EM_ASYNC_JS(int, js_progress, (const char* json), {
  return await Module.pdi.progress(JSON.parse(UTF8ToString(json)));
});

// ---- JsImports.h ------------------------------------------------------------------------------

extern "C" {

int pdi_js_fetch_open(int method, const char* path, const char* authorization, const char* body, int bodyLength,
                      int readTimeoutMs) {
  return js_fetch_open(method, path, authorization, body, bodyLength, readTimeoutMs);
}
int pdi_js_fetch_status(int handle) { return js_fetch_status(handle); }
double pdi_js_fetch_length(int handle) { return js_fetch_length(handle); }
int pdi_js_fetch_read(int handle, char* buffer, int capacity) { return js_fetch_read(handle, buffer, capacity); }
void pdi_js_fetch_close(int handle) { js_fetch_close(handle); }
void pdi_js_fetch_cancel_all() { js_fetch_cancel_all(); }
int pdi_js_modal(const char* json) { return js_modal(json); }
void pdi_js_busy(int on, const char* caption) { js_busy(on, caption); }
void pdi_js_changed() { js_changed(); }
int pdi_js_progress(const char* json) { return js_progress(json); }

}  // extern "C"
