// The page's end of the service's channel: one WebSocket to the program that served the page,
// carrying the same frames as `nimbra serve` (without their length prefix).
//
// The socket's first message is the secret the address carried; then the page listens on
// "nimbra/events" and is connected once that is answered. When the socket closes, the calls
// still waiting fail, and the page tries again with growing pauses, until the program
// refuses the secret (1008: it is a newer run, with a secret of its own).

import { FrameKind, decodeEnvelope, decodeFrame, encodeFrame, encodeMethodCall } from './standard_codec.js';

const NATIVE = 'nimbra/native';
const EVENTS = 'nimbra/events';
const SECRET_KEY = 'nimbra.secret';
const POLICY_VIOLATION = 1008;
const RETRY_PAUSES_MS = [250, 500, 1000, 2000, 4000];

// The channel's states, for the status line.
export const Status = Object.freeze({
  connecting: 'connecting',
  connected: 'connected',
  lost: 'lost', // waiting to try again
  refused: 'refused', // the program does not take this page's secret
  noSecret: 'noSecret', // the page was opened without one
});

// A call that got no result: the page was not connected, the connection went away before the
// answer came, the method is not implemented, or the service answered an error. The message is
// a sentence for people; `method` names the call.
export class CallError extends Error {
  constructor(method, message) {
    super(message);
    this.name = 'CallError';
    this.method = method;
  }
}

const NOT_CONNECTED = 'Not connected: nothing was done. Try again once the top bar says Connected.';
const LOST = 'The connection was lost before nimbra ui answered, so what it did is not known. Try again once the top bar says Connected.';

// The secret moves from the address's fragment (#t=SECRET) into this tab's sessionStorage, so
// that a reload still works, and leaves the address bar and the tab's history.
export function takeSecret() {
  const match = /^#t=([A-Za-z0-9_-]+)$/.exec(location.hash);
  if (match) {
    sessionStorage.setItem(SECRET_KEY, match[1]);
    history.replaceState(null, '', location.pathname);
  }
  return sessionStorage.getItem(SECRET_KEY);
}

export class Channel {
  // onStatus(status) and onEvent(event map) are called as things happen.
  constructor(secret, { onStatus, onEvent }) {
    this.secret = secret;
    this.onStatus = onStatus;
    this.onEvent = onEvent;
    this.socket = null;
    this.nextId = 1;
    this.pending = new Map(); // frame id -> { method, resolve, reject }
    this.retries = 0;
    this.status = null;
    if (secret) {
      this.connect();
    } else {
      this.setStatus(Status.noSecret);
    }
  }

  // Calls a method of "nimbra/native" and answers its result. Without a connection it fails at
  // once: a call that waited would leave its screen working for as long as the program is away.
  async call(method, args = null) {
    if (this.status !== Status.connected) throw new CallError(method, NOT_CONNECTED);
    return this.request(NATIVE, method, args);
  }

  connect() {
    this.setStatus(Status.connecting);
    const socket = new WebSocket(`ws://${location.host}/channel`);
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => {
      socket.send(this.secret);
      this.request(EVENTS, 'listen').then(() => {
        this.retries = 0;
        this.setStatus(Status.connected);
      }, () => {});
    };
    socket.onmessage = (message) => this.receive(message.data);
    socket.onclose = (close) => this.closed(close);
    this.socket = socket;
  }

  request(channel, method, args = null) {
    const id = this.nextId++;
    const socket = this.socket;
    return new Promise((resolve, reject) => {
      if (socket?.readyState !== WebSocket.OPEN) {
        reject(new CallError(method, NOT_CONNECTED));
        return;
      }
      this.pending.set(id, { method, resolve, reject });
      socket.send(encodeFrame({ kind: FrameKind.request, id, channel, message: encodeMethodCall(method, args) }));
    });
  }

  receive(data) {
    let frame;
    try {
      frame = decodeFrame(new Uint8Array(data));
    } catch (error) {
      console.error('nimbra: a frame from the program does not decode:', error.message);
      this.socket.close();
      return;
    }
    if (frame.kind === FrameKind.answer) {
      const waiting = this.pending.get(Number(frame.id));
      if (!waiting) return;
      this.pending.delete(Number(frame.id));
      // The moment an answer arrived, for measuring how long drawing it takes; by its method
      // too, as a screen may ask more before it has drawn the first.
      for (const name of ['nimbra:answer', `nimbra:answer:${waiting.method}`]) {
        performance.clearMarks(name);
        performance.mark(name, { detail: waiting.method });
      }
      settle(waiting, frame.message);
    } else if (frame.kind === FrameKind.notice && frame.channel === EVENTS) {
      const envelope = decodeEnvelope(frame.message);
      if (envelope.kind === 'success') this.onEvent(envelope.result);
    }
  }

  closed(close) {
    this.socket = null;
    for (const waiting of this.pending.values()) waiting.reject(new CallError(waiting.method, LOST));
    this.pending.clear();
    if (close.code === POLICY_VIOLATION) {
      this.setStatus(Status.refused);
      return;
    }
    this.setStatus(Status.lost);
    const pause = RETRY_PAUSES_MS[Math.min(this.retries++, RETRY_PAUSES_MS.length - 1)];
    setTimeout(() => this.connect(), pause);
  }

  setStatus(status) {
    this.status = status;
    this.onStatus(status);
  }
}

function settle({ method, resolve, reject }, message) {
  let envelope;
  try {
    envelope = decodeEnvelope(message);
  } catch (error) {
    reject(new CallError(method, `The answer to ${method} could not be read (${error.message}).`));
    return;
  }
  if (envelope.kind === 'success') {
    resolve(envelope.result);
  } else if (envelope.kind === 'notImplemented') {
    reject(new CallError(method, `This nimbra does not implement ${method}.`));
  } else {
    reject(new CallError(method, envelope.message || envelope.code));
  }
}
