// The page's side of the browser host, as the C++ side calls it. Each function is implemented in
// JavaScript (JsImports.cpp hands it to the page's bridge, web/client/bridge.js).
//
// The functions marked "waits" suspend the WebAssembly call stack (Asyncify) until the page has
// an answer (a dialog closed, the next piece of an answer arrived) and resume it then: the screen
// sees an ordinary synchronous call, and the page keeps drawing and taking events meanwhile.
//
// Thread rules: the page's one thread only.
#pragma once

extern "C" {

// ---- Network (FetchTransport.cpp) ---------------------------------------------------------------

// Codes the network functions return instead of a handle or a length.
enum PdiFetchCode {
  kPdiFetchFailed = -1,    // the network failed (refused, reset, not reachable)
  kPdiFetchCanceled = -2,  // the exchange was cancelled (Cancelar, or CancelCalls)
  kPdiFetchTimeout = -3,   // nothing arrived for longer than the read timeout
};
// Waits. Sends a request (method 0: GET, 1: POST with `body`, application/json) to `path` on the
// page's own server, with `authorization` when not empty, and returns a handle (> 0) once the
// answer's head has arrived, or a PdiFetchCode.
int pdi_js_fetch_open(int method, const char* path, const char* authorization, const char* body,
                      int bodyLength, int readTimeoutMs);
// The answer's status, and its announced length (-1: none).
int pdi_js_fetch_status(int handle);
double pdi_js_fetch_length(int handle);
// Waits. Copies the next bytes of the body (at most capacity) into buffer and returns how many;
// 0 at the end of the body; a PdiFetchCode on failure.
int pdi_js_fetch_read(int handle, char* buffer, int capacity);
// Forgets the exchange (aborting it when it is still under way).
void pdi_js_fetch_close(int handle);
// Aborts every exchange under way; each then reads kPdiFetchCanceled.
void pdi_js_fetch_cancel_all();

// ---- Dialogs and drawing (WebHostServices.cpp, WebSession.cpp) ----------------------------------

// Waits. Shows a modal dialog described by `json` and returns its result (see bridge.js:
// message dialogs return a modal result, the pick list the chosen row or 0).
int pdi_js_modal(const char* json);
// The busy indicator: shown with caption (on), or hidden.
void pdi_js_busy(int on, const char* caption);
// Something the page draws has changed; it redraws on its next frame.
void pdi_js_changed();
}

extern "C" {
// Waits until the page has drawn the progress of a long run (`json`: title, text, done, total)
// and taken its events; returns 0 when the clerk asked it to stop ("Parar"), 1 to go on.
int pdi_js_progress(const char* json);
}
