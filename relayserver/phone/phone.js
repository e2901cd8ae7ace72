'use strict';

(() => {
  const KEY_TOKEN = 'tellwire.token';
  const KEY_DEVICE = 'tellwire.device';
  const KEY_OUTBOX = 'tellwire.outbox';
  const INTERIM_GAP_MS = 100;
  const IDLE_FINAL_MS = 1500;
  const REQUEST_TIMEOUT_MS = 10000;
  const RETRY_FIRST_MS = 500;
  const RETRY_MAX_MS = 15000;
  const CODE_COOLDOWN_S = 60;
  const TEXT_LIMIT_BYTES = 4000;
  const PHONE_PATTERN = /^(?:\+?86)?1[3-9][0-9]{9}$/;

  const $ = (id) => document.getElementById(id);
  const ui = {
    state: $('state'),
    signin: $('signin'),
    signinForm: $('signin-form'),
    phone: $('phone'),
    code: $('code'),
    requestCode: $('request-code'),
    verify: $('verify'),
    signinMessage: $('signin-message'),
    dictation: $('dictation'),
    text: $('text'),
    send: $('send'),
    listen: $('listen'),
    heard: $('heard'),
    message: $('message'),
    pending: $('pending'),
  };

  // Storage can be refused (private modes, full quota); the page still works for this visit.
  const memory = new Map();
  const store = {
    get(key) {
      try { return localStorage.getItem(key); } catch (e) { return memory.has(key) ? memory.get(key) : null; }
    },
    set(key, value) {
      memory.set(key, value);
      try { localStorage.setItem(key, value); } catch (e) { /* kept in memory */ }
    },
    remove(key) {
      memory.delete(key);
      try { localStorage.removeItem(key); } catch (e) { /* kept in memory */ }
    },
  };

  // getRandomValues, unlike randomUUID, also exists on plain-HTTP origins in a home network.
  function randomHex(bytes) {
    const values = new Uint8Array(bytes);
    crypto.getRandomValues(values);
    return Array.from(values, (b) => b.toString(16).padStart(2, '0')).join('');
  }

  let deviceId = store.get(KEY_DEVICE);
  if (!deviceId) {
    deviceId = 'phone-' + randomHex(16);
    store.set(KEY_DEVICE, deviceId);
  }
  const sessionId = 's-' + randomHex(8);
  let utteranceCount = 0;
  const newUtteranceId = () => `${sessionId}-${++utteranceCount}`;

  function deviceName() {
    const ua = navigator.userAgent || '';
    if (/iPhone/.test(ua)) return 'iPhone';
    if (/iPad/.test(ua) || (/Macintosh/.test(ua) && navigator.maxTouchPoints > 1)) return 'iPad';
    if (/HarmonyOS/i.test(ua)) return '鸿蒙手机';
    if (/Android/.test(ua)) return 'Android 手机';
    return '手机浏览器';
  }

  // ---- talking to the relay ----

  const FALLBACK_MESSAGES = {
    0: '网络不通，正在重试。',
    401: '登录已失效，请重新登录。',
    429: '操作太频繁，请稍后再试。',
  };

  const retryable = (status) => status === 0 || status === 408 || status === 429 || status >= 500;

  // Resolves to {ok, status, data, message}; status 0 for a network failure or timeout.
  async function api(method, path, body, token) {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), REQUEST_TIMEOUT_MS);
    const headers = {};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (token) headers.Authorization = 'Bearer ' + token;
    try {
      const response = await fetch(path, {
        method,
        headers,
        body: body === undefined ? undefined : JSON.stringify(body),
        signal: controller.signal,
        cache: 'no-store',
        credentials: 'omit',
      });
      const raw = await response.text();
      let data = null;
      try { data = raw ? JSON.parse(raw) : null; } catch (e) { data = null; }
      const message = data && typeof data.message === 'string' ? data.message : '';
      return { ok: response.ok, status: response.status, data: data || {}, message };
    } catch (e) {
      return { ok: false, status: 0, data: {}, message: '' };
    } finally {
      clearTimeout(timer);
    }
  }

  const messageOf = (reply, fallback) =>
    reply.message || FALLBACK_MESSAGES[reply.status] || fallback || `出错了（${reply.status}），请稍后再试。`;

  const retryDelay = (attempt) =>
    Math.min(RETRY_MAX_MS, RETRY_FIRST_MS * 2 ** Math.min(attempt, 6)) * (0.8 + Math.random() * 0.4);

  // ---- what the person sees ----

  const STATES = {
    starting: '正在连接…',
    connected: '已连接',
    retrying: '正在重连…',
    'signed-out': '未登录',
  };

  function setState(state) {
    ui.state.dataset.state = state;
    ui.state.textContent = STATES[state];
  }

  function say(element, text, isError = true) {
    element.textContent = text;
    element.classList.toggle('info', !isError);
  }

  let token = store.get(KEY_TOKEN);

  function render() {
    ui.signin.hidden = Boolean(token);
    ui.dictation.hidden = !token;
  }

  function signedIn(newToken) {
    token = newToken;
    store.set(KEY_TOKEN, newToken);
    ui.code.value = '';
    say(ui.signinMessage, '');
    say(ui.message, '');
    setState('connected');
    render();
    wake();
  }

  function signOut(message) {
    token = null;
    store.remove(KEY_TOKEN);
    stopListening();
    setState('signed-out');
    say(ui.signinMessage, message);
    render();
  }

  // ---- the in-order outbox ----
  // Events leave one at a time, in order; a failed send is retried with the same
  // utterance id, and the desktop types a repeated final only once.

  const outbox = { items: [], sending: false, attempt: 0, timer: 0 };

  function restoreOutbox() {
    try {
      const saved = JSON.parse(store.get(KEY_OUTBOX) || '[]');
      if (Array.isArray(saved)) {
        outbox.items = saved.filter((e) => e && typeof e.utterance === 'string' &&
                                           typeof e.text === 'string' && e.final === true);
      }
    } catch (e) {
      outbox.items = [];
    }
  }

  // Only finals outlive the page: a stale interim would leave text hanging on the desktop.
  function saveOutbox() {
    const finals = outbox.items.filter((e) => e.final === true);
    if (finals.length) store.set(KEY_OUTBOX, JSON.stringify(finals));
    else store.remove(KEY_OUTBOX);
    const count = finals.length;
    ui.pending.textContent = count ? `还有 ${count} 句等待发送` : '';
  }

  function enqueue(event) {
    // The head may be on the wire already; everything behind it can still be coalesced.
    const first = outbox.sending ? 1 : 0;
    if (event.utterance !== undefined) {
      for (let i = outbox.items.length - 1; i >= first; i--) {
        const queued = outbox.items[i];
        if (queued.utterance === event.utterance && !queued.final) outbox.items.splice(i, 1);
      }
    }
    outbox.items.push(event);
    saveOutbox();
    pump();
  }

  async function pump() {
    if (outbox.sending || outbox.timer || !token || !outbox.items.length) return;
    outbox.sending = true;
    const event = outbox.items[0];
    const usedToken = token;
    const reply = event.probe ? await api('GET', '/v1/me', undefined, usedToken)
                              : await api('POST', '/v1/events', event, usedToken);
    outbox.sending = false;
    if (reply.ok) {
      outbox.items.shift();
      outbox.attempt = 0;
      setState('connected');
    } else if (reply.status === 401) {
      // A token replaced meanwhile gets its own try; the event stays queued for the next sign-in.
      if (usedToken === token) {
        if (event.probe) outbox.items.shift();
        signOut(messageOf(reply));
        saveOutbox();
        return;
      }
    } else if (retryable(reply.status)) {
      setState('retrying');
      outbox.timer = setTimeout(() => { outbox.timer = 0; pump(); }, retryDelay(outbox.attempt++));
      return;
    } else {
      outbox.items.shift();
      if (!event.probe) say(ui.message, messageOf(reply, '这段文字没有发出去。'));
    }
    saveOutbox();
    pump();
  }

  // Back from sleep, offline or the background: retry now and recheck the sign-in.
  function wake() {
    if (outbox.timer) {
      clearTimeout(outbox.timer);
      outbox.timer = 0;
    }
    if (token && !outbox.items.some((e) => e.probe)) outbox.items.push({ probe: true });
    pump();
  }

  // The relay takes at most TEXT_LIMIT_BYTES of UTF-8 per event; lone surrogates become U+FFFD.
  function splitText(text) {
    const parts = [];
    let part = '';
    let bytes = 0;
    for (let ch of text) {
      const cp = ch.codePointAt(0);
      if (cp >= 0xd800 && cp <= 0xdfff) ch = '\ufffd';
      const size = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 || ch === '\ufffd' ? 3 : 4;
      if (bytes + size > TEXT_LIMIT_BYTES) {
        parts.push(part);
        part = '';
        bytes = 0;
      }
      part += ch;
      bytes += size;
    }
    parts.push(part);
    return parts;
  }

  // A long interim shows its beginning; a long final goes out as several.
  function publish(utterance, text, final) {
    const parts = splitText(text);
    if (!final) {
      enqueue({ utterance, text: parts[0], final: false, session: sessionId });
      return;
    }
    parts.forEach((part, i) => {
      enqueue({ utterance: i ? `${utterance}.${i + 1}` : utterance, text: part, final: true, session: sessionId });
    });
  }

  // ---- one utterance: throttled interims, then one final ----

  class Draft {
    constructor() {
      this.id = newUtteranceId();
      this.text = '';
      this.sent = '';
      this.sentAt = -Infinity;
      this.timer = 0;
    }

    // At most one interim per INTERIM_GAP_MS; the newest text always goes out.
    update(text) {
      this.text = text;
      if (this.timer) return;
      const wait = this.sentAt + INTERIM_GAP_MS - performance.now();
      if (wait <= 0) this.flush();
      else this.timer = setTimeout(() => { this.timer = 0; this.flush(); }, wait);
    }

    flush() {
      if (this.text === this.sent) return;
      this.sent = this.text;
      this.sentAt = performance.now();
      publish(this.id, this.text, false);
    }

    // True when a final went out; blank text is never a final.
    finish() {
      clearTimeout(this.timer);
      this.timer = 0;
      if (!this.text.trim()) {
        this.flush();
        return false;
      }
      publish(this.id, this.text, true);
      return true;
    }
  }

  // ---- the text box, which the keyboard's own microphone fills ----

  let typed = new Draft();
  let idleTimer = 0;
  let composing = false;

  function finishTyped() {
    clearTimeout(idleTimer);
    idleTimer = 0;
    typed.text = ui.text.value;
    if (typed.finish()) {
      typed = new Draft();
      ui.text.value = '';
    }
  }

  function armIdle() {
    clearTimeout(idleTimer);
    idleTimer = composing ? 0 : setTimeout(finishTyped, IDLE_FINAL_MS);
  }

  ui.text.addEventListener('input', () => {
    typed.update(ui.text.value);
    armIdle();
  });
  // A keyboard still composing (pinyin, or dictation that is not done) is not idle.
  ui.text.addEventListener('compositionstart', () => { composing = true; armIdle(); });
  ui.text.addEventListener('compositionend', () => { composing = false; armIdle(); });
  ui.text.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && !e.shiftKey && !e.isComposing && e.keyCode !== 229) {
      e.preventDefault();
      finishTyped();
    }
  });
  // Keeps the keyboard open: the button does not take the focus from the text box.
  ui.send.addEventListener('mousedown', (e) => e.preventDefault());
  ui.send.addEventListener('click', () => {
    finishTyped();
    if (listening && listening.draft.finish()) listening.draft = new Draft();
  });

  // ---- the browser's own speech recognition ----

  const Recognition = window.SpeechRecognition || window.webkitSpeechRecognition;
  let listening = null;
  const FATAL_SPEECH_ERRORS = {
    'not-allowed': '没有麦克风权限，请在浏览器设置里允许使用麦克风。',
    'service-not-allowed': '这个浏览器不允许在本页使用语音识别，请改用键盘上的麦克风。',
    'audio-capture': '找不到麦克风。',
    'language-not-supported': '这个浏览器不支持中文语音识别，请改用键盘上的麦克风。',
  };

  function renderListen() {
    ui.listen.textContent = listening ? '停止听写' : '开始听写';
    ui.listen.setAttribute('aria-pressed', String(Boolean(listening)));
  }

  function startListening() {
    finishTyped();
    const recognition = new Recognition();
    recognition.lang = 'zh-CN';
    recognition.interimResults = true;
    recognition.continuous = true;
    recognition.maxAlternatives = 1;
    const session = { recognition, draft: new Draft(), wanted: true };

    recognition.onresult = (event) => {
      let interim = '';
      for (let i = event.resultIndex; i < event.results.length; i++) {
        const result = event.results[i];
        const transcript = result[0] ? result[0].transcript : '';
        if (result.isFinal) {
          session.draft.text = transcript;
          if (session.draft.finish()) session.draft = new Draft();
          ui.heard.textContent = transcript;
        } else {
          interim += transcript;
        }
      }
      if (interim) {
        session.draft.update(interim);
        ui.heard.textContent = interim;
      }
    };
    recognition.onerror = (event) => {
      const fatal = FATAL_SPEECH_ERRORS[event.error];
      if (fatal) {
        session.wanted = false;
        say(ui.message, fatal);
      } else if (event.error === 'network') {
        say(ui.message, '语音识别需要联网，正在重试。');
      }
    };
    // Browsers end a recognition after a pause; what was heard so far is final, and listening goes on.
    recognition.onend = () => {
      session.draft.finish();
      session.draft = new Draft();
      if (session.wanted && listening === session) {
        try {
          recognition.start();
          return;
        } catch (e) { /* falls through to stopped */ }
      }
      if (listening === session) {
        listening = null;
        renderListen();
      }
    };

    try {
      recognition.start();
    } catch (e) {
      say(ui.message, '无法开始语音识别，请改用键盘上的麦克风。');
      return;
    }
    say(ui.message, '');
    listening = session;
    renderListen();
  }

  function stopListening() {
    if (!listening) return;
    const session = listening;
    session.wanted = false;
    listening = null;
    renderListen();
    try { session.recognition.stop(); } catch (e) { /* already stopped */ }
  }

  if (Recognition) {
    ui.listen.hidden = false;
    ui.listen.addEventListener('click', () => (listening ? stopListening() : startListening()));
  }

  // ---- signing in ----

  const normalizedPhone = () => ui.phone.value.replace(/[\s-]/g, '');
  let cooldownTimer = 0;

  function cooldown(seconds) {
    clearInterval(cooldownTimer);
    let left = seconds;
    const tick = () => {
      ui.requestCode.disabled = left > 0;
      ui.requestCode.textContent = left > 0 ? `重新获取（${left}秒）` : '获取验证码';
      if (left-- <= 0) clearInterval(cooldownTimer);
    };
    tick();
    cooldownTimer = setInterval(tick, 1000);
  }

  ui.requestCode.addEventListener('click', async () => {
    const phone = normalizedPhone();
    if (!PHONE_PATTERN.test(phone)) {
      say(ui.signinMessage, '请输入正确的中国大陆手机号。');
      ui.phone.focus();
      return;
    }
    ui.requestCode.disabled = true;
    const reply = await api('POST', '/v1/auth/phone/request', { phone });
    if (reply.ok) {
      const minutes = Math.round((Number(reply.data.expires_in) || 300) / 60);
      say(ui.signinMessage, `验证码已发送，${minutes} 分钟内有效。`, false);
      cooldown(CODE_COOLDOWN_S);
      ui.code.focus();
    } else {
      ui.requestCode.disabled = false;
      say(ui.signinMessage, messageOf(reply, '验证码没有发出，请稍后再试。'));
    }
  });

  ui.signinForm.addEventListener('submit', async (e) => {
    e.preventDefault();
    const phone = normalizedPhone();
    const code = ui.code.value.trim();
    if (!PHONE_PATTERN.test(phone)) {
      say(ui.signinMessage, '请输入正确的中国大陆手机号。');
      ui.phone.focus();
      return;
    }
    if (!/^[0-9]{6}$/.test(code)) {
      say(ui.signinMessage, '请输入短信里的 6 位验证码。');
      ui.code.focus();
      return;
    }
    ui.verify.disabled = true;
    const reply = await api('POST', '/v1/auth/phone/verify', { phone, code, role: 'phone', device_id: deviceId });
    ui.verify.disabled = false;
    if (reply.ok && typeof reply.data.token === 'string') signedIn(reply.data.token);
    else say(ui.signinMessage, messageOf(reply, '登录失败，请稍后再试。'));
  });

  // A pairing link carries a single-use secret in the fragment, which never reaches a server log.
  async function claimPairing(secret) {
    setState('starting');
    for (let attempt = 0; ; attempt++) {
      const reply = await api('POST', '/v1/pairings/claim', { secret, device_id: deviceId, name: deviceName() });
      if (reply.ok && typeof reply.data.token === 'string') {
        signedIn(reply.data.token);
        return;
      }
      if (!retryable(reply.status) || reply.status === 429) {
        const message = messageOf(reply, '配对没有成功，请在电脑上重新生成配对链接。');
        if (token) {
          setState('starting');
          say(ui.message, message);
          wake();
        } else {
          setState('signed-out');
          say(ui.signinMessage, message);
          render();
        }
        return;
      }
      setState('retrying');
      await new Promise((resolve) => {
        const done = () => {
          clearTimeout(timer);
          window.removeEventListener('online', done);
          resolve();
        };
        const timer = setTimeout(done, retryDelay(attempt));
        window.addEventListener('online', done);
      });
    }
  }

  function takePairingSecret() {
    const match = /^#pair=([^&]+)/.exec(location.hash);
    if (!match) return null;
    // The secret must not stay in the address bar, the history or a bookmark.
    history.replaceState(null, '', location.pathname + location.search);
    try { return decodeURIComponent(match[1]); } catch (e) { return null; }
  }

  function openPairingLink() {
    const secret = takePairingSecret();
    if (secret) claimPairing(secret);
    return Boolean(secret);
  }

  // ---- the page's life on a phone ----

  window.addEventListener('hashchange', openPairingLink);
  window.addEventListener('online', wake);
  window.addEventListener('offline', () => { if (token) setState('retrying'); });
  window.addEventListener('pageshow', (e) => { if (e.persisted) wake(); });
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') {
      wake();
      return;
    }
    // A locked phone may never run the idle timer: what is there is finished now.
    finishTyped();
    if (listening) stopListening();
  });
  window.addEventListener('pagehide', (e) => {
    saveOutbox();
    if (e.persisted || !token || outbox.items.length) return;
    fetch('/v1/events', {
      method: 'POST',
      keepalive: true,
      credentials: 'omit',
      headers: { 'Content-Type': 'application/json', Authorization: 'Bearer ' + token },
      body: JSON.stringify({ type: 'session_end', session: sessionId }),
    }).catch(() => {});
  });

  restoreOutbox();
  renderListen();
  render();
  if (!openPairingLink()) {
    if (token) {
      setState('starting');
      wake();
    } else {
      setState('signed-out');
    }
  }
  saveOutbox();
})();
