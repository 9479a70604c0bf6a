// Sends requests one at a time over one native-messaging port, as a signing
// page does, and shows each answer. runRequests() is called by the test driver.
//
// A string argument of the form "@result:NAME" is replaced by the "result" of
// the answer to the earlier request named NAME (a page passes an encrypted PIN
// on that way).

function substitute(value, results) {
  if (typeof value === "string" && value.startsWith("@result:")) {
    const name = value.slice("@result:".length);
    if (!(name in results)) throw new Error("no earlier answer named " + name);
    return results[name];
  }
  if (Array.isArray(value)) return value.map((v) => substitute(v, results));
  if (value && typeof value === "object") {
    const out = {};
    for (const [k, v] of Object.entries(value)) out[k] = substitute(v, results);
    return out;
  }
  return value;
}

function show(name, text) {
  const item = document.createElement("li");
  item.textContent = name + ": " + (text.length > 300 ? text.slice(0, 300) + "..." : text);
  document.getElementById("answers").appendChild(item);
}

// rows: [{name, request}]. Returns {rows: [{name, answer, error, open}],
// extra: answers nobody asked for, openAtEnd, disconnectError}.
async function runRequests(host, rows, timeoutMs, settleMs) {
  const port = chrome.runtime.connectNative(host);
  const queue = [];
  const extra = [];
  let waiting = null;
  let disconnected = false;
  let disconnectError = "";
  let stalled = false;

  port.onMessage.addListener((message) => {
    if (waiting) { const w = waiting; waiting = null; w({ answer: message }); }
    else extra.push(message);
  });
  port.onDisconnect.addListener(() => {
    disconnected = true;
    disconnectError = chrome.runtime.lastError ? chrome.runtime.lastError.message : "";
    if (waiting) { const w = waiting; waiting = null; w({ error: "disconnected: " + disconnectError }); }
  });

  const results = {};
  const out = [];
  for (const row of rows) {
    if (disconnected || stalled) {
      const why = disconnected ? "not sent: port closed" : "not sent: an earlier request got no answer";
      out.push({ name: row.name, error: why, open: !disconnected });
      show(row.name, why);
      continue;
    }
    let timer;
    const got = await new Promise((resolve) => {
      waiting = resolve;
      timer = setTimeout(() => { if (waiting === resolve) { waiting = null; resolve({ error: "timeout" }); } },
                         timeoutMs);
      try {
        port.postMessage(substitute(row.request, results));
      } catch (e) {
        waiting = null;
        resolve({ error: "postMessage: " + e.message });
      }
    });
    clearTimeout(timer);
    // Chromium reports a broken frame as a disconnect, after any answer that
    // came before it; let such an event arrive before judging the port.
    await new Promise((r) => setTimeout(r, 0));
    if (got.answer && typeof got.answer === "object" && "result" in got.answer) results[row.name] = got.answer.result;
    out.push({ name: row.name, answer: got.answer, error: got.error, open: !disconnected });
    show(row.name, got.answer !== undefined ? JSON.stringify(got.answer) : got.error);
    if (got.error === "timeout") stalled = true;
  }
  await new Promise((r) => setTimeout(r, settleMs));
  const openAtEnd = !disconnected;
  port.disconnect();
  return { rows: out, extra, openAtEnd, disconnectError };
}
