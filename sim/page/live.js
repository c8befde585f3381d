// The web interface's stand-in. It shows what the daemon publishes in its
// JSON files, polled as a device's interface would read them, and sends the
// control elements a person's clicks make. Nothing here keeps state of its
// own beyond what the files and the simulator say.
"use strict";

const FILES = ["status", "dialog", "song", "queuelist", "playlist", "presetPlaylist",
               "recommendPlaylist", "playmanager"];
const POLL_MS = 300;
const files = {};          // name -> parsed JSON
const texts = {};          // name -> last text, to render only on change
let logSeen = 0;
let tab = "playlist";
const opened = {};         // "tab:id" -> true for the playlists shown open
let sequencer = {};

const $ = (id) => document.getElementById(id);

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else if (key === "className") node.className = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) {
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

// Attribute values of an element: the XML reader of the daemon takes the
// usual entities.
function attr(value) {
  return String(value).replace(/&/g, "&amp;").replace(/"/g, "&quot;")
    .replace(/</g, "&lt;").replace(/>/g, "&gt;");
}

function element(fields) {
  return "<set_ondemand " + Object.entries(fields)
    .map(([name, value]) => `${name}="${attr(value)}"`).join(" ") + "/>";
}

async function post(path, body) {
  const answer = await fetch(path, {method: "POST", body: JSON.stringify(body || {})});
  if (!answer.ok) console.warn(path, await answer.text());
}

function send(...elements) {
  return post("/api/send", {elements});
}

// A batch as the interface sends one: "start", the songs, "end".
function batch(fields, key, values) {
  return send(...["start", ...values, "end"].map((v) => element({...fields, [key]: v})));
}

function time(ms) {
  const s = Math.floor(ms / 1000);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`;
}

// -- rendering the files ------------------------------------------------------

function songRow(song, buttons, extra) {
  const li = el("li", {"data-song-id": song.id},
    el("span", {className: "title"}, `${song.title} `,
       el("span", {className: "muted"}, `${song.artist} · ${song.length}s`)));
  if (extra) li.append(extra);
  for (const [label, action, name] of buttons) {
    li.append(el("button", {onclick: action, "data-action": name || label}, label));
  }
  return li;
}

function flags(song) {
  const text = (song.url_download ? "url " : "") + (song.file_download ? "file" : "");
  return text ? el("span", {className: "flag"}, text) : null;
}

const render = {
  status(s) {
    $("status").dataset.status = s.status;
    $("status-value").textContent = s.status;
    $("status-more").textContent = `${s.gratis ? "gratis" : "member"}` +
      `${s.isStaging ? ", staging" : ""}, requests ${s.download}`;
    const genre = $("search-genre");
    const chosen = genre.value;
    genre.replaceChildren(el("option", {value: ""}, "any genre"),
      ...s.genres.map((g) => el("option", {value: g.id}, g.name)));
    genre.value = chosen;
  },

  dialog(d) {
    const box = $("dialog");
    const info = d.dialog;
    box.dataset.type = info.type;
    box.dataset.show = String(info.isShow);
    box.classList.toggle("hidden", !info.isShow);
    $("dialog-title").textContent = info.title || info.type;
    $("dialog-message").textContent = info.message;
    $("dialog-progress").classList.toggle("hidden", !(info.isProg && info.type === "wait"));
    $("dialog-progress-bar").style.width = `${parseFloat(info.perProg) || 0}%`;
    $("dialog-ok").classList.toggle("hidden", info.type === "wait");
  },

  song(f) {
    const list = $("songs");
    list.dataset.updatetime = f.updatetime;
    list.replaceChildren(...f.songs.map((song) => songRow(song, [
      ["+queue", () => batch({cmd: "addQueueBtm"}, "songId", [song.id]), "queue"],
      ["top", () => batch({cmd: "addQueueTop"}, "songId", [song.id]), "queue-top"],
      ["play now", () => send(element({cmd: "quickPlayQueue", category: "search",
                                       songId: song.id})), "quick-play"],
      ["+list", () => addToPlaylist(song.id), "add-to-playlist"],
    ])));
  },

  queuelist(f) {
    const list = $("queue");
    list.dataset.updatetime = f.updatetime;
    list.replaceChildren(...f.songs.map((song, index) => songRow(song, [
      ["play", () => send(element({cmd: "ondemandPlaySong", category: "queuelist",
                                   playSongIndex: index, playlistID: 0})), "play"],
      ["remove", () => batch({cmd: "rmvQueueSong"}, "display_order", [song.display_order]),
       "remove"],
    ], flags(song))));
  },

  playlist() { renderPlaylists(); },
  presetPlaylist() { renderPlaylists(); },
  recommendPlaylist() { renderPlaylists(); },

  playmanager(f) {
    const pm = f.playmanager;
    const box = $("pm");
    box.dataset.updatetime = f.updatetime;
    box.dataset.songId = pm.playSong.id;
    $("pm-title").textContent = pm.playSong.id !== "0" ? pm.playSong.title : "-";
    $("pm-artist").textContent = pm.playSong.id !== "0" ? pm.playSong.artist : "";
    $("pm-next").textContent = pm.nextSong.id !== "0" ? pm.nextSong.title : "-";
    $("pm-category").textContent = pm.category || "-";
    $("pm-where").textContent = pm.where || "-";
    $("pm-index").textContent = pm.playSongIndex;
    $("pm-playlist").textContent = pm.playlistID;
    $("repeat").value = pm.repeat || "off";
  },
};

// The user's playlists are the targets of "+list".
function renderTargets() {
  const select = $("target-playlist");
  const chosen = select.value;
  const lists = (files.playlist && files.playlist.playlists) || [];
  select.replaceChildren(...lists.map((p) => el("option", {value: p.id}, p.name)));
  if (lists.some((p) => p.id === chosen)) select.value = chosen;
}

function addToPlaylist(songId) {
  const id = $("target-playlist").value;
  if (id) batch({cmd: "addToPlaylist", id}, "item_id", [songId]);
}

const CATEGORY = {playlist: "userplaylist", presetPlaylist: "preset",
                  recommendPlaylist: "recommendPlaylist"};

function openPlaylist(id) {
  if (tab === "playlist") send(element({cmd: "playlist", id}));
  if (tab === "presetPlaylist") send(element({cmd: "presetPlaylist", playlistID: id}));
}

function renderPlaylists() {
  renderTargets();
  const f = files[tab];
  const box = $("playlists");
  box.dataset.tab = tab;
  box.dataset.updatetime = f ? f.updatetime : "";
  if (!f) return box.replaceChildren();
  box.replaceChildren(...f.playlists.map((p) => {
    const key = `${tab}:${p.id}`;
    const head = el("div", {className: "head"},
      el("span", {className: "name"}, p.name || "(no name)"),
      el("span", {className: "muted"}, `${p.songs.length} songs`));
    const toggle = () => {
      opened[key] = !opened[key];
      if (opened[key] && p.songs.length === 0) openPlaylist(p.id);
      renderPlaylists();
    };
    head.append(el("button", {onclick: toggle, "data-action": "open"},
                   opened[key] ? "close" : "open"));
    if (tab === "playlist") {
      head.append(
        el("button", {onclick: () => {
          const name = prompt("New name", p.name);
          if (name) send(element({cmd: "updatePlaylist", id: p.id, name, ctrl: "Rename"}));
        }, "data-action": "rename"}, "rename"),
        el("button", {onclick: () => {
          if (confirm(`Delete ${p.name}?`)) send(element({cmd: "deletePlaylist", id: p.id}));
        }, "data-action": "delete"}, "delete"));
    }
    const node = el("div", {className: "playlist", "data-playlist-id": p.id}, head);
    if (opened[key]) {
      node.append(el("ol", {className: "songs"}, ...p.songs.map((song, index) => songRow(song, [
        ["play", () => send(element({cmd: "ondemandPlaySong", category: CATEGORY[tab],
                                     playSongIndex: index, playlistID: p.id})), "play"],
      ], flags(song)))));
    }
    return node;
  }));
}

// -- the sequencer stand-in and the log -------------------------------------

function renderSimulator(state) {
  sequencer = state.sequencer;
  const box = $("sequencer");
  box.dataset.state = sequencer.state;
  box.dataset.songId = sequencer.songId || "";
  $("seq-state").textContent = sequencer.state;
  $("seq-song").textContent = sequencer.songId || "-";
  $("seq-loads").textContent = sequencer.loads;
  $("seq-reports").textContent = sequencer.reports;
  $("seq-load").textContent = sequencer.load || "(no load message yet)";
  $("seq-last").textContent = sequencer.lastReport ? `last report: ${sequencer.lastReport}` : "";
  $("position").dataset.ms = sequencer.positionMs;
  $("position").textContent = time(sequencer.positionMs);
  $("length").textContent = time(sequencer.lengthMs);
  const share = sequencer.lengthMs ? sequencer.positionMs / sequencer.lengthMs : 0;
  $("progress-bar").style.width = `${Math.min(100, share * 100)}%`;
  if (document.activeElement !== $("speed")) $("speed").value = sequencer.speed;
  if (document.activeElement !== $("failure")) $("failure").value = state.failure || "";
  $("daemon-alive").textContent = state.daemon ? "daemon running" : "daemon ended";

  const log = $("log");
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  for (const entry of state.log) {
    logSeen = entry.n;
    const report = entry.kind === "to" && entry.text.startsWith('<seq status="play" time=');
    const arrow = {to: "→", from: "←", service: "⇄"}[entry.kind];
    log.append(el("li", {className: entry.kind + (report ? " report" : ""),
                         "data-kind": entry.kind},
                  el("span", {className: "t"}, entry.t.toFixed(2)), `${arrow} ${entry.text}`));
  }
  while (log.children.length > 1500) log.firstChild.remove();
  filterLog();
  if (atEnd) log.scrollTop = log.scrollHeight;
}

function filterLog() {
  const shown = {to: $("log-to").checked, from: $("log-from").checked,
                 service: $("log-service").checked};
  for (const li of $("log").children) {
    const hide = !shown[li.dataset.kind] ||
      (li.classList.contains("report") && !$("log-reports").checked);
    li.classList.toggle("hidden", hide);
  }
}

// -- polling ---------------------------------------------------------------------

async function readFile(name) {
  const answer = await fetch(`/ctrl/ondemand_${name}.json`, {cache: "no-store"});
  if (!answer.ok) return;
  const text = await answer.text();
  if (text === texts[name]) return;
  try {
    files[name] = JSON.parse(text);
  } catch (error) {
    return;  // never half-written (the daemon renames whole files), but be safe
  }
  texts[name] = text;
  render[name](files[name]);
}

async function poll() {
  try {
    await Promise.all(FILES.map(readFile));
    const answer = await fetch(`/api/state?after=${logSeen}`, {cache: "no-store"});
    if (answer.ok) renderSimulator(await answer.json());
  } catch (error) {
    $("daemon-alive").textContent = "simulator not reachable";
  }
  setTimeout(poll, POLL_MS);
}

// -- controls --------------------------------------------------------------------

$("switch-on").onclick = () => send(element({cmd: "setOption", gratis: "false"}),
                                    element({cmd: "ondemandStart", pfix: "d", id: "1"}));
$("switch-off").onclick = () => send(element({status: "off"}));
$("failure").onchange = (e) => post("/api/fail", {mode: e.target.value});
$("speed").onchange = (e) => post("/api/speed", {speed: e.target.value});
$("search-form").onsubmit = (e) => {
  e.preventDefault();
  const fields = {cmd: "search", title: $("search-title").value};
  if ($("search-artist").value) fields.artist = $("search-artist").value;
  if ($("search-genre").value) fields.genre = $("search-genre").value;
  send(element(fields));
};
$("recommend-songs").onclick = () => send(element({cmd: "recommendSong"}));
$("history-songs").onclick = () => send(element({cmd: "historySongs"}));
$("create-form").onsubmit = (e) => {
  e.preventDefault();
  const name = $("create-name").value.trim();
  if (name) send(element({cmd: "createPlaylist", name}));
  $("create-name").value = "";
};
for (const button of document.querySelectorAll(".tab")) {
  button.onclick = () => {
    tab = button.dataset.tab;
    for (const other of document.querySelectorAll(".tab")) {
      other.classList.toggle("active", other === button);
    }
    if (tab === "recommendPlaylist" && !files.recommendPlaylist?.playlists.length) {
      send(element({cmd: "recommendPlaylist"}));
    }
    renderPlaylists();
  };
}
$("back").onclick = () => send(element({cmd: "ondemandSongCtrl", control: "back"}));
$("next").onclick = () => send(element({cmd: "ondemandSongCtrl", control: "next"}));
$("pause").onclick = () => send(element({cmd: "pause"}));
// The daemon takes "play" and does nothing with it: the control server has
// the sequencer play on, which then reports it.
$("play").onclick = async () => {
  await send(element({cmd: "play"}));
  post("/api/resume");
};
$("repeat").onchange = (e) => send(element({cmd: "setRepeat", type: e.target.value}));
$("progress").onclick = (e) => {
  if (!sequencer.lengthMs) return;
  const box = $("progress").getBoundingClientRect();
  const seconds = Math.floor((e.clientX - box.left) / box.width * sequencer.lengthMs / 1000);
  send(element({cmd: "setTime", time: seconds}));
};
$("dialog-ok").onclick = () => send(element({cmd: "dlgConfirmed"}));
for (const id of ["log-to", "log-from", "log-service", "log-reports"]) {
  $(id).onchange = filterLog;
}

poll();
