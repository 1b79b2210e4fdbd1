// orvoscan.js: scan cheques from a web page with the local scanning service
// orvoscand. An ES module without dependencies:
//
//   import { OrvoScanner } from "http://127.0.0.1:6570/client/orvoscan.js";
//   const scanner = await OrvoScanner.connect("http://127.0.0.1:6570");
//   const scan = scanner.scan({ profile: "Check" });
//   for await (const cheque of scan) show(cheque);   // as each cheque is scanned
//   const end = await scan.end;                      // why the batch ended
//
// The page's origin must be allowed in orvoscand.conf (AllowOrigin=).

/**
 * @typedef {Object} OrvoPage
 * @property {string} tiff   URL of the page file as the driver wrote it
 * @property {string} png    URL of the same page as PNG (for <img>)
 * @property {number} width
 * @property {number} height
 * @property {string} name   page name, e.g. "A000001F"
 */

/**
 * @typedef {Object} OrvoCheque
 * @property {number} number              document number
 * @property {?string} micr               MICR line ("?" and "_" mark unreadable characters)
 * @property {?boolean} micrReadable
 * @property {string[]} defects           image defects ("skew", "too-dark", ...)
 * @property {Object} measures            what the quality checks measured, per side
 * @property {OrvoPage} front
 * @property {?OrvoPage} rear
 */

/**
 * @typedef {Object} OrvoBatchEnd
 * @property {string} reason   "feeder-empty", "jam", "double-feed", "cover-open",
 *                             "device-error", "cancelled", "scan-count", ...
 * @property {number} deviceError
 * @property {string} message  the driver's message ("" when there is none)
 * @property {number} cheques
 */

/** A refusal or failure of the service, with its message and HTTP status. */
export class OrvoScanError extends Error {
  /** @param {string} message @param {number} status */
  constructor(message, status) {
    super(message);
    this.name = "OrvoScanError";
    /** @type {number} */
    this.status = status;
  }
}

async function request(base, path, init = {}, token = "") {
  const headers = Object.assign({}, init.headers || {});
  if (init.body !== undefined) headers["Content-Type"] = "application/json";
  if (token) headers["Authorization"] = "Bearer " + token;
  let response;
  try {
    response = await fetch(base + path, Object.assign({}, init, { headers, mode: "cors" }));
  } catch (e) {
    throw new OrvoScanError("the scanning service at " + base + " cannot be reached", 0);
  }
  if (response.status === 204) return null;
  let body = null;
  try {
    body = await response.json();
  } catch (e) {
    body = null;
  }
  if (!response.ok) {
    const text = body && body.error ? body.error : "the service answered " + response.status;
    throw new OrvoScanError(text, response.status);
  }
  return body;
}

/** One batch: an async iterable of cheques, and its end. */
export class OrvoScan {
  /** @param {OrvoScanner} scanner @param {Object} options */
  constructor(scanner, options) {
    this._scanner = scanner;
    this._options = options;
    /** @type {?string} the batch id once started */
    this.id = null;
    this._queue = [];
    this._wake = null;
    this._source = null;
    /** @type {Promise<OrvoBatchEnd>} */
    this.end = new Promise((resolve, reject) => {
      this._resolveEnd = resolve;
      this._rejectEnd = reject;
    });
    this.end.catch(() => {});
  }

  _push(item) {
    this._queue.push(item);
    if (this._wake) {
      const wake = this._wake;
      this._wake = null;
      wake();
    }
  }

  async _start() {
    const body = { profile: this._options.profile };
    if (this._options.startNumber !== undefined) body.startNumber = this._options.startNumber;
    if (this._options.outputDir !== undefined) body.outputDir = this._options.outputDir;
    let created;
    try {
      created = await request(this._scanner.url, "/v1/batches", {
        method: "POST",
        body: JSON.stringify(body),
      }, this._scanner._token);
    } catch (e) {
      this._rejectEnd(e);
      throw e;
    }
    this.id = created.id;
    const source = new EventSource(this._scanner.url + created.events);
    this._source = source;
    source.addEventListener("cheque", (e) => this._push({ cheque: JSON.parse(e.data) }));
    source.addEventListener("end", (e) => {
      source.close();
      const end = JSON.parse(e.data);
      this._resolveEnd(end);
      this._push({ end });
    });
    // The browser reconnects by itself (and gets what it missed); a stream
    // that is closed for good ends the batch for this page.
    source.onerror = () => {
      if (source.readyState === EventSource.CLOSED) {
        const error = new OrvoScanError("the scanning service closed the event stream", 0);
        this._rejectEnd(error);
        this._push({ error });
      }
    };
  }

  async *[Symbol.asyncIterator]() {
    await this._start();
    for (;;) {
      while (this._queue.length === 0) await new Promise((resolve) => (this._wake = resolve));
      const item = this._queue.shift();
      if (item.cheque) yield item.cheque;
      else if (item.error) throw item.error;
      else return;
    }
  }

  /** Ends the batch after the cheque in progress (that cheque still comes). */
  async cancel() {
    if (this.id) await request(this._scanner.url, "/v1/batches/" + this.id, { method: "DELETE" },
                              this._scanner._token);
  }
}

/** The scanning service and its scanner. */
export class OrvoScanner {
  /** @param {string} url @param {Object} info @param {string} token */
  constructor(url, info, token) {
    /** @type {string} */
    this.url = url.replace(/\/+$/, "");
    /** what GET /v1/scanner said: driverVersion, scanner, profiles, busy */
    this.info = info;
    this._token = token;
    /** @type {?OrvoScan} */
    this.current = null;
  }

  /**
   * Connects to the service (default http://127.0.0.1:6570).
   * @param {string} [url]
   * @param {{token?: string}} [options] token: for programs outside a browser
   * @returns {Promise<OrvoScanner>}
   */
  static async connect(url = "http://127.0.0.1:6570", options = {}) {
    const base = url.replace(/\/+$/, "");
    const info = await request(base, "/v1/scanner", {}, options.token || "");
    return new OrvoScanner(base, info, options.token || "");
  }

  /** @returns {Promise<string[]>} the profiles of the scanner's settings */
  async profiles() {
    this.info = await request(this.url, "/v1/scanner", {}, this._token);
    return this.info.profiles;
  }

  /** @param {string} name @returns {Promise<Object>} the profile's settings */
  async profile(name) {
    return request(this.url, "/v1/profiles/" + encodeURIComponent(name), {}, this._token);
  }

  /**
   * Changes settings of a profile; a value the scanner cannot take is
   * refused (OrvoScanError, status 422, naming key, value and range).
   * @param {string} name @param {Object<string, number>} settings
   */
  async setProfile(name, settings) {
    return request(this.url, "/v1/profiles/" + encodeURIComponent(name), {
      method: "PUT",
      body: JSON.stringify({ settings }),
    }, this._token);
  }

  /**
   * Scans a batch: iterate it for the cheques as they come.
   * @param {{profile: string, startNumber?: number, outputDir?: string}} options
   * @returns {OrvoScan}
   */
  scan(options) {
    this.current = new OrvoScan(this, options);
    return this.current;
  }

  /** Cancels the batch of the last scan(): the cheque in progress still comes. */
  async cancel() {
    if (this.current) await this.current.cancel();
  }

  /** @param {string} path a page URL of an event @returns {string} the absolute URL */
  pageUrl(path) {
    return this.url + path;
  }
}
