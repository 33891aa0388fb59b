// The page's side of the browser host's waiting calls (web/src/JsImports.h): the network
// exchanges of the screen's connection, over fetch, with the answer's body handed to the
// WebAssembly side piece by piece while it streams; and the hooks through which the C++ side asks
// for dialogs, the busy indicator and a redraw (they go to `ui`).
//
// Every exchange has a deadline for each wait (the read timeout the connection gives) and can be
// cancelled (Cancelar); a cancelled or timed-out exchange reads as such, never as an answer.

const FAILED = -1;
const CANCELED = -2;
const TIMEOUT = -3;

export function createBridge(ui) {
  const exchanges = new Map();
  let nextHandle = 1;

  // Waits for promise, or for the exchange's deadline, whichever comes first.
  function withDeadline(exchange, promise) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        exchange.timedOut = true;
        exchange.controller.abort();
        reject(new Error('timeout'));
      }, exchange.timeoutMs);
      promise.then((v) => { clearTimeout(timer); resolve(v); },
                   (e) => { clearTimeout(timer); reject(e); });
    });
  }

  // Reads the next piece into the exchange's queue; one read at a time, so none is lost.
  function pull(exchange) {
    if (!exchange.nextRead) {
      exchange.nextRead = exchange.reader.read().then(({ done, value }) => {
        exchange.nextRead = null;
        if (done) {
          exchange.done = true;
        } else {
          exchange.pending.push(value);
          exchange.pendingBytes += value.length;
          // Keep reading while the queue is short: the network and the decoder work side by side.
          if (exchange.pendingBytes < (8 << 20)) pull(exchange).catch(() => {});
        }
      });
    }
    return exchange.nextRead;
  }

  function failureCode(exchange) {
    if (exchange.canceled) return CANCELED;
    if (exchange.timedOut) return TIMEOUT;
    return FAILED;
  }

  return {
    async fetchOpen(method, path, authorization, body, timeoutMs) {
      const handle = nextHandle++;
      const exchange = {
        controller: new AbortController(), timeoutMs: Math.max(1000, timeoutMs || 120000),
        canceled: false, timedOut: false, response: null, reader: null, pending: [], pendingBytes: 0,
        done: false, nextRead: null,
      };
      exchanges.set(handle, exchange);
      ui.callStarted(handle);
      const headers = {};
      if (authorization) headers.Authorization = authorization;
      if (method === 1) headers['Content-Type'] = 'application/json';
      try {
        exchange.response = await withDeadline(exchange, fetch(path, {
          method: method === 1 ? 'POST' : 'GET', headers, body: method === 1 ? body : undefined,
          signal: exchange.controller.signal, credentials: 'same-origin', cache: 'no-store',
        }));
        exchange.reader = exchange.response.body ? exchange.response.body.getReader() : null;
        return handle;
      } catch (e) {
        const code = failureCode(exchange);
        this.fetchClose(handle);
        return code;
      }
    },

    fetchStatus(handle) {
      const exchange = exchanges.get(handle);
      return exchange && exchange.response ? exchange.response.status : 0;
    },

    fetchLength(handle) {
      const exchange = exchanges.get(handle);
      const length = exchange && exchange.response ? exchange.response.headers.get('Content-Length') : null;
      return length === null || !/^\d+$/.test(length) ? -1 : Number(length);
    },

    // The next bytes of the body (at most capacity): all that has arrived since the last read, or
    // else the next piece. Reading ahead goes on while the WebAssembly side decodes.
    async fetchRead(handle, capacity) {
      const exchange = exchanges.get(handle);
      if (!exchange || exchange.canceled) return CANCELED;
      if (!exchange.reader) return 0;
      try {
        if (exchange.pendingBytes === 0) {
          if (exchange.done) return 0;
          await withDeadline(exchange, pull(exchange));
          if (exchange.pendingBytes === 0) return 0;
        }
        const size = Math.min(capacity, exchange.pendingBytes);
        const out = new Uint8Array(size);
        let at = 0;
        while (at < size) {
          const piece = exchange.pending[0];
          const take = Math.min(piece.length, size - at);
          out.set(take === piece.length ? piece : piece.subarray(0, take), at);
          at += take;
          if (take === piece.length) exchange.pending.shift();
          else exchange.pending[0] = piece.subarray(take);
        }
        exchange.pendingBytes -= size;
        if (!exchange.done) pull(exchange).catch(() => {});
        return out;
      } catch (e) {
        return failureCode(exchange);
      }
    },

    fetchClose(handle) {
      const exchange = exchanges.get(handle);
      if (!exchange) return;
      exchanges.delete(handle);
      try { exchange.controller.abort(); } catch (e) { /* already over */ }
      ui.callEnded(handle);
    },

    fetchCancelAll() {
      for (const exchange of exchanges.values()) {
        exchange.canceled = true;
        exchange.controller.abort();
      }
    },

    modal: (spec) => ui.modal(spec),
    progress: (spec) => ui.progress(spec),
    busy: (on, caption) => ui.busy(on, caption),
    changed: () => ui.changed(),
  };
}
