// The plan page. Every time it shows is the server's local time, as the server writes it
// ("YYYY-MM-DDThh:mm:ss", no offset): the page never converts a time through the browser's zone. Where it
// needs arithmetic on those times it reads them as if they were UTC ("wall milliseconds"), so the browser's
// own zone and its daylight-saving changes never enter.
'use strict';

const DAY_MS = 86400000;
const state = {
  status: null,
  location: null,     // the chosen location's entry of the status
  view: 'today',
  editable: false,
  variables: [],
  wallBase: 0,        // the server's wall milliseconds at performance.now() == 0
  next: null,         // the next item that fires
  editing: null,      // the planned item in the form, or null for a new one
  calendar: null,
  tickTimer: 0,
};

const $ = (id) => document.getElementById(id);

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  if (props) {
    for (const [k, v] of Object.entries(props)) {
      if (k === 'class') node.className = v;
      else if (k.startsWith('on')) node.addEventListener(k.slice(2), v);
      else node.setAttribute(k, v);
    }
  }
  for (const c of children) {
    if (c !== null && c !== undefined) node.append(c);
  }
  return node;
}

// --- the server's time ---

function wallMs(text) {
  const m = /^(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2})(?::(\d{2}))?)?/.exec(text || '');
  if (!m) return NaN;
  return Date.UTC(+m[1], +m[2] - 1, +m[3], +(m[4] || 0), +(m[5] || 0), +(m[6] || 0));
}
function wallText(ms) { return new Date(ms).toISOString().slice(0, 19); }
function dateOf(text) { return text.slice(0, 10); }
function timeOf(text) { return text.slice(11, 16); }
function addDays(date, n) { return wallText(wallMs(date) + n * DAY_MS).slice(0, 10); }
function serverNowMs() { return state.wallBase + performance.now(); }
function serverToday() { return wallText(serverNowMs()).slice(0, 10); }
function syncClock(now) {
  const ms = wallMs(now);
  if (!Number.isNaN(ms)) state.wallBase = ms - performance.now();
}
function longDate(date) {
  return new Date(wallMs(date)).toLocaleDateString(undefined,
      {timeZone: 'UTC', weekday: 'long', day: 'numeric', month: 'long', year: 'numeric'});
}
function offsetText(minutes) {
  const sign = minutes < 0 ? '-' : '+';
  const a = Math.abs(minutes);
  return `UTC${sign}${String(Math.floor(a / 60)).padStart(2, '0')}:${String(a % 60).padStart(2, '0')}`;
}
function countdown(ms) {
  const s = Math.max(0, Math.round(ms / 1000));
  const h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60), r = s % 60;
  return h ? `${h} h ${String(m).padStart(2, '0')} min` : `${m} min ${String(r).padStart(2, '0')} s`;
}
function ageText(seconds) {
  if (seconds < 120) return `${seconds} s`;
  if (seconds < 7200) return `${Math.round(seconds / 60)} min`;
  if (seconds < 172800) return `${Math.round(seconds / 3600)} h`;
  return `${Math.round(seconds / 86400)} days`;
}

// --- talking to the server ---

class Refused extends Error {
  constructor(status, body) {
    super((body && body.error) || `the server answered ${status}`);
    this.status = status;
    this.field = body && body.field;
  }
}

async function api(method, path, body) {
  const init = {method, headers: {}, credentials: 'same-origin'};
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const res = await fetch(path, init);
  let data = null;
  try { data = await res.json(); } catch (e) { data = null; }
  if (!res.ok) throw new Refused(res.status, data);
  return data;
}

function say(text, bad) {
  const m = $('message');
  m.textContent = text || '';
  m.classList.toggle('bad', !!bad);
}

// A write refused for want of a login opens the login; any other refusal goes beside its field, or to
// `fallback` when it names none (or a field the form does not show).
function showRefusal(err, prefix, fallback) {
  if (err.status === 401) {
    openLogin(err.message);
    return;
  }
  const field = err.field ? String(err.field) : '';
  const candidates = [field, field.split('.').pop(), field.split('.')[0]];
  for (const f of candidates) {
    const target = f && $(`err-${prefix}${f}`);
    if (target) {
      target.textContent = err.message;
      const input = target.closest('.field, fieldset, div');
      const control = input && input.querySelector('input, select');
      if (control) control.setAttribute('aria-invalid', 'true');
      return;
    }
  }
  $(fallback).textContent = err.message;
}

function clearErrors(form) {
  form.querySelectorAll('.field-error').forEach((e) => { e.textContent = ''; });
  form.querySelectorAll('[aria-invalid]').forEach((e) => e.removeAttribute('aria-invalid'));
}

// --- status: the zone, the login and the sources in trouble ---

async function loadStatus() {
  const s = await api('GET', '/apiv1/status');
  state.status = s;
  syncClock(s.now);
  $('zone').textContent = `Times in ${s.zone} (${offsetText(s.offset_minutes || 0)})`;
  const login = s.login || {};
  $('login-open').hidden = !login.required || login.logged_in;
  $('logout').hidden = !login.logged_in;
  const trouble = $('trouble');
  trouble.replaceChildren();
  for (const loc of s.locations || []) {
    if (!loc.trouble) continue;
    const src = loc.source || {};
    trouble.append(el('div', {class: 'trouble-item'},
        el('strong', null, `${loc.name}: `), loc.trouble,
        src.where && src.where !== loc.name ? el('span', {class: 'where'}, ` (${src.where})`) : null));
  }
  const select = $('location');
  const chosen = state.location ? state.location.location_id : Number(location.hash.slice(1)) || null;
  select.replaceChildren(...(s.locations || []).map((l) =>
    el('option', {value: l.location_id}, `${l.name}${l.trouble ? ' ⚠' : ''}`)));
  const found = (s.locations || []).find((l) => l.location_id === chosen) || (s.locations || [])[0] || null;
  state.location = found;
  if (found) select.value = String(found.location_id);
  return s;
}

function sourceText(src) {
  if (!src || src.kind === 'database') return 'Planned here (database)';
  return `Read-only: actions come from the iCalendar ${src.kind === 'url' ? 'URL' : 'file'} ${src.where || ''}`;
}

// --- items ---

function whatText(item) {
  if (Number(item.macro_action) === 2) return `set ${item.macro} = ${item.macro_data}`;
  return `start task ${item.macro}`;
}
function noteText(item) {
  if (item.closed !== undefined && item.closed !== null && item.closed !== false) {
    return `closed: ${item.closed}`;
  }
  if (item.skipped) return 'skipped';
  return '';
}
function willFire(item) { return !noteText(item); }
function sunText(item) { return item.sun ? `${item.sun} → ${timeOf(item.date)}` : ''; }

async function loadItems(start, end) {
  const id = state.location.location_id;
  const answer = await api('GET', `/apiv1/plan/${id}/items?start=${start}&end=${end}`);
  if (answer.now) syncClock(answer.now);
  state.editable = !!answer.editable;
  $('plan-new').hidden = !state.editable;
  $('source-info').textContent = sourceText(answer.source || state.location.source);
  return answer.items || [];
}

function itemButtons(item) {
  if (!state.editable || item.plan_id === undefined || item.plan_id === null) return null;
  const box = el('span', {class: 'item-buttons'});
  box.append(el('button', {type: 'button', onclick: () => editPlanned(item.plan_id),
    'aria-label': `Edit ${item.name}`}, 'Edit'));
  if (item.closed === undefined || item.closed === null) {
    const date = dateOf(item.date);
    box.append(item.skipped
      ? el('button', {type: 'button', 'aria-label': `Fire ${item.name} on ${date} again`,
        onclick: () => write('DELETE', `/apiv1/plan/${state.location.location_id}/${item.plan_id}/skip/${date}`)},
      'Undo skip')
      : el('button', {type: 'button', 'aria-label': `Skip ${item.name} on ${date}`,
        onclick: () => write('POST', `/apiv1/plan/${state.location.location_id}/${item.plan_id}/skip`,
            {date})}, 'Skip'));
  }
  return box;
}

async function write(method, path, body) {
  try {
    await api(method, path, body);
    say('');
    await refresh();
  } catch (err) {
    if (err.status === 401) openLogin(err.message);
    else say(err.message, true);
  }
}

async function showToday() {
  const today = serverToday();
  const items = await loadItems(today, addDays(today, 1));
  $('today-title').textContent = `Today, ${longDate(today)}`;
  const list = $('agenda');
  const rows = items.filter((i) => dateOf(i.date) === today).map((item) => el('li',
      {class: `item${willFire(item) ? '' : ' struck'}`, 'data-plan': item.plan_id ?? ''},
      el('time', {class: 'when'}, timeOf(item.date)),
      el('span', {class: 'what'}, el('span', {class: 'name'}, item.name), ' ',
          el('span', {class: 'does'}, whatText(item))),
      item.sun ? el('span', {class: 'sun'}, sunText(item)) : null,
      el('span', {class: 'src'}, item.source || ''),
      noteText(item) ? el('span', {class: 'note'}, noteText(item)) : null,
      itemButtons(item)));
  list.replaceChildren(...rows);
  if (!rows.length) list.append(el('li', {class: 'empty'}, 'Nothing planned today.'));
  const now = wallText(serverNowMs());
  state.next = items.find((i) => willFire(i) && i.date >= now) || null;
  tick();
}

function tick() {
  const next = state.next;
  const box = $('next');
  if (!next) {
    box.textContent = 'No further action today or tomorrow.';
    return;
  }
  const left = wallMs(next.date) - serverNowMs();
  if (left < 0) {
    // It has fired: the next one comes from a fresh read.
    state.next = null;
    if (state.view === 'today') showToday().catch((e) => say(e.message, true));
    return;
  }
  const day = dateOf(next.date) === serverToday() ? '' : 'tomorrow ';
  box.textContent = `Next: ${next.name} (${whatText(next)}) ${day}at ${timeOf(next.date)}, in ${countdown(left)}`;
}

function eventOf(item, index) {
  const classes = [];
  if (!willFire(item)) classes.push('struck');
  if (item.sun) classes.push('sun-event');
  return {
    id: String(index),
    title: `${item.name}: ${whatText(item)}${noteText(item) ? ` (${noteText(item)})` : ''}`,
    start: item.date,
    allDay: false,
    classNames: classes,
    extendedProps: {item},
  };
}

// A busy half hour of the grid (a show's cue list) is one entry naming how many actions it holds: the grid
// stays readable and quick to draw, and the entry opens the list of that day, where each action is shown.
// Three entries of 20 minutes in one half hour would be slivers side by side, so three make a group.
const GROUP_ABOVE = 2;
function weekEvents(items) {
  const slots = new Map();
  for (const item of items) {
    const key = item.date.slice(0, 14) + (Number(item.date.slice(14, 16)) < 30 ? '00' : '30');
    if (!slots.has(key)) slots.set(key, []);
    slots.get(key).push(item);
  }
  const events = [];
  for (const [key, group] of slots) {
    if (group.length <= GROUP_ABOVE) {
      for (const item of group) events.push(eventOf(item, events.length));
      continue;
    }
    const names = group.slice(0, 3).map((i) => i.name).join(', ');
    events.push({
      id: String(events.length),
      title: `${group.length} actions: ${names}, …`,
      start: `${key}:00`,
      end: wallText(wallMs(`${key}:00`) + 1800000),
      allDay: false,
      classNames: ['group'],
      extendedProps: {group: dateOf(key)},
    });
  }
  return events;
}

function openDayList(date) {
  $('list-start').value = date;
  $('list-end').value = date;
  setView('list');
}

// The week of the server's today as the grid shows it (from Monday), asked for as soon as the status is
// read: the answer travels while the calendar view is loaded and its empty grid drawn.
let weekAhead = null;
// When the first week's items arrived, a figure the page's benchmark reads.
let weekItemsMarked = false;
function markWeekItems() {
  if (!weekItemsMarked) performance.mark('week-items');
  weekItemsMarked = true;
}
function askWeekAhead() {
  if (!state.location || state.calendar) return;
  const today = serverToday();
  const start = addDays(today, -((new Date(wallMs(today)).getUTCDay() + 6) % 7));
  const end = addDays(start, 6);
  const items = loadItems(start, end);
  items.then(markWeekItems, () => {});  // the grid's own request reports a refusal
  weekAhead = {location: state.location.location_id, start, end, items};
}

// The grid's entries show the item's own wall time and title, and its hours are labelled without the
// calendar view's date formatting: that formatting, per entry and per label, was the bulk of drawing a
// crowded week.
function two(n) { return String(n).padStart(2, '0'); }
function clockText(info) { return `${two(info.date.hour)}:${two(info.date.minute)}`; }
function gridEntry(arg) {
  const {item} = arg.event.extendedProps;
  return `${timeOf(item ? item.date : arg.event.startStr)} ${arg.event.title}`;
}

let weekFetched = false;
let weekDrawn = false;
function showWeek() {
  const narrow = window.innerWidth < 700;
  if (!state.calendar) {
    state.calendar = new FullCalendar.Calendar($('week'), {
      // The server's wall times are given to the view as UTC and shown as UTC: the browser's zone never
      // shifts them.
      timeZone: 'UTC',
      now: () => wallText(serverNowMs()),
      initialView: narrow ? 'listWeek' : 'timeGridWeek',
      initialDate: serverToday(),
      firstDay: 1,
      nowIndicator: true,
      allDaySlot: false,
      height: narrow ? 'auto' : 640,
      // Opens at the hour before the server's now, where the next actions are.
      scrollTime: `${String(Math.max(0, Number(wallText(serverNowMs()).slice(11, 13)) - 1)).padStart(2, '0')}:00:00`,
      defaultTimedEventDuration: '00:20:00',
      eventMaxStack: 3,
      slotLabelFormat: clockText,
      eventTimeFormat: {hour: '2-digit', minute: '2-digit', hour12: false},
      views: {timeGrid: {displayEventTime: false, eventContent: gridEntry}},
      headerToolbar: {left: 'prev,next today', center: 'title', right: narrow ? '' : 'timeGridWeek,listWeek'},
      buttonText: {today: 'This week', timeGridWeek: 'Grid', listWeek: 'List'},
      events: (info, success, failure) => {
        const start = info.startStr.slice(0, 10);
        const end = addDays(info.endStr.slice(0, 10), -1);
        const early = weekAhead && weekAhead.location === state.location.location_id &&
            weekAhead.start === start && weekAhead.end === end ? weekAhead.items : null;
        weekAhead = null;
        (early || loadItems(start, end)).then((items) => {
          markWeekItems();
          weekFetched = true;
          success(weekEvents(items));
        }, (err) => {
          say(err.message, true);
          failure(err);
        });
      },
      // The first week with its actions, once painted: the figure the page's benchmark reads.
      eventsSet: () => {
        if (weekFetched && !weekDrawn) {
          weekDrawn = true;
          requestAnimationFrame(() => performance.mark('week-drawn'));
        }
      },
      eventClick: (info) => {
        if (info.event.extendedProps.group) return openDayList(info.event.extendedProps.group);
        const item = info.event.extendedProps.item;
        if (state.editable && item.plan_id !== undefined && item.plan_id !== null) editPlanned(item.plan_id);
      },
      // A planned item in the grid is reached and opened by keyboard too.
      eventDidMount: (info) => {
        const {item, group} = info.event.extendedProps;
        if (group) {
          info.el.tabIndex = 0;
          info.el.setAttribute('role', 'button');
          info.el.setAttribute('aria-label', `${info.event.title} Show the list of ${group}`);
          info.el.addEventListener('keydown', (ev) => {
            if (ev.key === 'Enter' || ev.key === ' ') {
              ev.preventDefault();
              openDayList(group);
            }
          });
          return;
        }
        if (!state.editable || item.plan_id === undefined || item.plan_id === null) return;
        info.el.tabIndex = 0;
        info.el.setAttribute('role', 'button');
        info.el.setAttribute('aria-label', `Edit ${item.name} at ${timeOf(item.date)} on ${dateOf(item.date)}`);
        info.el.addEventListener('keydown', (ev) => {
          if (ev.key === 'Enter' || ev.key === ' ') {
            ev.preventDefault();
            editPlanned(item.plan_id);
          }
        });
      },
    });
    state.calendar.render();
  } else {
    state.calendar.refetchEvents();
    state.calendar.updateSize();
  }
}

async function showList() {
  const start = $('list-start').value, end = $('list-end').value;
  $('err-list').textContent = '';
  if (!start || !end || end < start) {
    $('err-list').textContent = 'Give a first and a last date, the last not before the first.';
    return;
  }
  if ((wallMs(end) - wallMs(start)) / DAY_MS >= 400) {
    $('err-list').textContent = 'At most 400 days at once.';
    return;
  }
  let items;
  try {
    items = await loadItems(start, end);
  } catch (err) {
    $('err-list').textContent = err.message;
    return;
  }
  $('list-body').replaceChildren(...items.map((item) => el('tr', {class: willFire(item) ? '' : 'struck'},
      el('td', null, dateOf(item.date)), el('td', null, timeOf(item.date)),
      el('td', null, `${item.name}: ${whatText(item)}`, item.sun ? el('span', {class: 'sun'}, ` ${sunText(item)}`) : null),
      el('td', {class: 'src'}, item.source || ''), el('td', {class: 'note'}, noteText(item)))));
  if (!items.length) $('list-body').append(el('tr', null, el('td', {colspan: 5}, 'Nothing in these days.')));
}

async function showClosed() {
  const id = state.location.location_id;
  const answer = await api('GET', `/apiv1/closed/${id}`);
  $('closed-list').replaceChildren(...(answer.closed || []).map((c) => el('li', {class: 'struck-label'},
      el('span', null, c.end && c.end !== c.start ? `${c.start} to ${c.end}` : c.start),
      el('strong', null, ` ${c.label} `),
      el('button', {type: 'button', 'aria-label': `Open ${c.label} again`,
        onclick: () => write('DELETE', `/apiv1/closed/${id}/${c.id}`)}, 'Open again'))));
  if (!(answer.closed || []).length) $('closed-list').append(el('li', null, 'No closed days.'));
}

async function refresh() {
  if (!state.location) {
    say('The server has no location yet.');
    return;
  }
  location.hash = String(state.location.location_id);
  if ($('message').classList.contains('bad')) say('');
  try {
    if (state.view === 'today') await showToday();
    else if (state.view === 'week') {
      await calendarLoaded;
      showWeek();
    }
    else if (state.view === 'list') await showList();
    else {
      await showClosed();
      await loadItems(serverToday(), serverToday());
    }
  } catch (err) {
    say(err.message, true);
  }
}

function setView(view) {
  state.view = view;
  for (const b of document.querySelectorAll('.tabs button')) {
    b.setAttribute('aria-pressed', String(b.dataset.view === view));
  }
  for (const v of ['today', 'week', 'list', 'closed']) $(`view-${v}`).hidden = v !== view;
  refresh();
}

// --- the planning form ---

async function loadVariables() {
  const id = state.location.location_id;
  try {
    const answer = await api('GET', `/apiv1/variable?locationid=${id}&location_id=${id}`);
    state.variables = answer.variables || [];
  } catch (err) {
    state.variables = [];
  }
  const select = $('f-variable');
  select.replaceChildren(...state.variables.map((v) => el('option', {value: v.name}, v.name)));
  if (!state.variables.length) select.append(el('option', {value: ''}, '(no variables: run Sync DB)'));
}

function currentVariable() { return state.variables.find((v) => v.name === $('f-variable').value); }

function updateForm() {
  const sun = $('f-kind-sun').checked;
  $('row-time').hidden = sun;
  $('row-sun').hidden = !sun;
  const repeat = $('f-repeat').value;
  $('row-weekly').hidden = repeat !== 'weekly';
  $('row-interval').hidden = repeat !== 'weekly' && repeat !== 'daily';
  $('interval-unit').textContent = repeat === 'daily' ? 'days' : 'weeks';
  $('row-end').hidden = !repeat;
  $('row-until').hidden = $('f-end').value !== 'until';
  $('row-count').hidden = $('f-end').value !== 'count';
  const isVar = $('f-action-var').checked;
  $('row-task').hidden = isVar;
  $('row-variable').hidden = !isVar;
  $('row-value').hidden = !isVar;
  const v = currentVariable();
  const choice = $('f-value-choice');
  const input = $('f-value');
  const enumeration = isVar && v && Number(v.var_type) === 4;
  choice.hidden = !enumeration;
  input.hidden = enumeration;
  if (enumeration) {
    const items = String(v.var_data || '').split(',').map((s) => s.trim()).filter((s) => s);
    const keep = choice.value || input.value;
    choice.replaceChildren(...items.map((s) => el('option', {value: s}, s)));
    if (items.includes(keep)) choice.value = keep;
  }
  input.type = isVar && v && Number(v.var_type) === 1 ? 'number' : 'text';
}

function fillForm(p) {
  $('f-name').value = p.name || '';
  $('f-date').value = p.date || serverToday();
  $('f-kind-sun').checked = !!p.sun;
  $('f-kind-clock').checked = !p.sun;
  $('f-time').value = p.time || '';
  $('f-sun-event').value = p.sun ? p.sun.event : 'sunset';
  $('f-sun-offset').value = p.sun ? p.sun.offset || '' : '';
  const r = p.repeat || null;
  $('f-repeat').value = r ? r.every : '';
  const days = (r && r.days) || [];
  document.querySelectorAll('.days input').forEach((c) => { c.checked = days.includes(c.value); });
  $('f-interval').value = (r && r.interval) || 1;
  $('f-end').value = r && r.until ? 'until' : r && r.count ? 'count' : '';
  $('f-until').value = (r && r.until) || '';
  $('f-count').value = (r && r.count) || '';
  const isVar = Number(p.macro_action) === 2;
  $('f-action-var').checked = isVar;
  $('f-action-task').checked = !isVar;
  $('f-task').value = isVar ? '' : p.macro || '';
  if (isVar) $('f-variable').value = p.macro;
  $('f-value').value = isVar ? p.macro_data || '' : '';
  $('f-value-choice').value = '';
  updateForm();
  if (isVar) $('f-value-choice').value = p.macro_data || '';
}

function formItem() {
  const item = {name: $('f-name').value.trim(), date: $('f-date').value};
  if ($('f-kind-sun').checked) {
    item.time = null;
    item.sun = {event: $('f-sun-event').value, offset: $('f-sun-offset').value.trim()};
  } else {
    item.time = $('f-time').value;
    item.sun = null;
  }
  const every = $('f-repeat').value;
  if (every) {
    item.repeat = {every, interval: 1, days: null, until: null, count: null};
    if (every === 'weekly') {
      item.repeat.days = [...document.querySelectorAll('.days input:checked')].map((c) => c.value);
    }
    if (every === 'weekly' || every === 'daily') item.repeat.interval = Number($('f-interval').value);
    if ($('f-end').value === 'until') item.repeat.until = $('f-until').value;
    if ($('f-end').value === 'count') item.repeat.count = Number($('f-count').value);
  } else {
    item.repeat = null;
  }
  if ($('f-action-var').checked) {
    const v = currentVariable();
    item.macro_action = 2;
    item.macro = $('f-variable').value;
    item.macro_data = v && Number(v.var_type) === 4 ? $('f-value-choice').value : $('f-value').value.trim();
  } else {
    item.macro_action = 1;
    item.macro = $('f-task').value.trim();
    item.macro_data = '';
  }
  return item;
}

// The page's own checks, for speed; the server checks every field again and decides.
function checkForm(item) {
  const errors = {};
  if (!item.name) errors.name = 'Give the action a name.';
  if (!item.date) errors.date = 'Give a date.';
  if (!item.sun && !item.time) errors.time = 'Give a time.';
  if (item.repeat && item.repeat.every === 'weekly' && !item.repeat.days.length) {
    errors.days = 'Choose at least one weekday.';
  }
  if (item.repeat && item.repeat.until === '') errors.until = 'Give the last date.';
  if (item.repeat && item.repeat.count !== null && !(item.repeat.count >= 1 && item.repeat.count <= 10000)) {
    errors.count = 'Between 1 and 10,000 times.';
  }
  if (!item.macro) errors.macro = item.macro_action === 2 ? 'Choose a variable.' : 'Name the task.';
  const v = currentVariable();
  if (item.macro_action === 2 && v && Number(v.var_type) === 1 && !/^-?\d+$/.test(item.macro_data)) {
    errors.macro_data = `${v.name} takes a whole number.`;
  }
  return errors;
}

async function openForm(planned) {
  await loadVariables();
  state.editing = planned;
  clearErrors($('plan-form'));
  $('plan-title').textContent = planned ? `Edit “${planned.name}”` : 'Plan an action';
  $('plan-delete').hidden = !planned;
  fillForm(planned || {date: serverToday(), time: wallText(serverNowMs() + 3600000).slice(11, 16) + ':00'});
  $('plan-dialog').showModal();
  $('f-name').focus();
}

async function editPlanned(id) {
  try {
    const answer = await api('GET', `/apiv1/plan/${state.location.location_id}`);
    const planned = (answer.items || []).find((p) => p.id === id);
    if (!planned) throw new Error('That planned item no longer exists.');
    await openForm(planned);
  } catch (err) {
    say(err.message, true);
  }
}

async function submitForm(ev) {
  ev.preventDefault();
  const form = $('plan-form');
  clearErrors(form);
  const item = formItem();
  const errors = checkForm(item);
  const first = Object.keys(errors);
  if (first.length) {
    for (const f of first) showRefusal({field: f, message: errors[f]}, '', 'err-form');
    return;
  }
  const id = state.location.location_id;
  try {
    if (state.editing) await api('PUT', `/apiv1/plan/${id}/${state.editing.id}`, item);
    else await api('POST', `/apiv1/plan/${id}`, item);
    $('plan-dialog').close();
    say(`Saved “${item.name}”.`);
    await refresh();
  } catch (err) {
    showRefusal(err, '', 'err-form');
  }
}

async function deletePlanned() {
  if (!state.editing) return;
  try {
    await api('DELETE', `/apiv1/plan/${state.location.location_id}/${state.editing.id}`);
    $('plan-dialog').close();
    say(`Deleted “${state.editing.name}”.`);
    await refresh();
  } catch (err) {
    showRefusal(err, '', 'err-form');
  }
}

async function submitClosed(ev) {
  ev.preventDefault();
  const form = $('closed-form');
  clearErrors(form);
  const body = {start: $('c-start').value, label: $('c-label').value.trim()};
  if ($('c-end').value) body.end = $('c-end').value;
  if (!body.start) return showRefusal({field: 'start', message: 'Give the first closed day.'}, 'c-', 'err-c-form');
  if (!body.label) return showRefusal({field: 'label', message: 'Give a label.'}, 'c-', 'err-c-form');
  try {
    await api('POST', `/apiv1/closed/${state.location.location_id}`, body);
    form.reset();
    say(`Closed: ${body.label}.`);
    await refresh();
  } catch (err) {
    showRefusal(err, 'c-', 'err-c-form');
  }
}

// --- login ---

function openLogin(why) {
  clearErrors($('login-form'));
  const login = (state.status && state.status.login) || {};
  $('login-why').textContent = (why || 'Changes need a login.') + (login.password_set === false
    ? ' No password is set yet: the server\'s operator sets one with calendar-server --db FILE --set-password.'
    : '');
  $('login-password').value = '';
  if (!$('login-dialog').open) $('login-dialog').showModal();
  $('login-password').focus();
}

async function submitLogin(ev) {
  ev.preventDefault();
  clearErrors($('login-form'));
  try {
    await api('POST', '/apiv1/login', {password: $('login-password').value});
    $('login-dialog').close();
    say('Logged in.');
    await loadStatus();
  } catch (err) {
    $('err-password').textContent = err.message;
    $('login-password').setAttribute('aria-invalid', 'true');
  }
}

async function logout() {
  try {
    await api('POST', '/apiv1/logout', {});
  } catch (err) {
    say(err.message, true);
  }
  await loadStatus();
}

// --- start ---

const calendarLoaded = new Promise((resolve) => {
  if (document.readyState !== 'loading' && window.FullCalendar) resolve();
  else document.addEventListener('DOMContentLoaded', resolve, {once: true});
});

function chooseLocation(id) {
  const found = state.status && state.status.locations.find((l) => String(l.location_id) === String(id));
  if (!found || (state.location && found.location_id === state.location.location_id)) return;
  state.location = found;
  $('location').value = String(found.location_id);
  // Nothing of the previous location stays in view while this one's answers are awaited (or refused).
  for (const id of ['agenda', 'list-body', 'closed-list']) $(id).replaceChildren();
  $('next').textContent = '';
  $('source-info').textContent = '';
  state.next = null;
  if (state.calendar) {
    state.calendar.destroy();
    state.calendar = null;
  }
  refresh();
}

async function start() {
  document.querySelectorAll('.tabs button').forEach((b) => b.addEventListener('click', () => setView(b.dataset.view)));
  $('location').addEventListener('change', () => chooseLocation($('location').value));
  // The address names the location: a link or the browser's back button switch to it.
  window.addEventListener('hashchange', () => chooseLocation(window.location.hash.slice(1)));
  $('plan-new').addEventListener('click', () => openForm(null));
  $('plan-form').addEventListener('submit', submitForm);
  $('plan-form').addEventListener('change', updateForm);
  $('plan-cancel').addEventListener('click', () => $('plan-dialog').close());
  $('plan-delete').addEventListener('click', deletePlanned);
  $('closed-form').addEventListener('submit', submitClosed);
  $('list-form').addEventListener('submit', (ev) => { ev.preventDefault(); showList(); });
  $('login-open').addEventListener('click', () => openLogin('Log in to plan actions.'));
  $('login-form').addEventListener('submit', submitLogin);
  $('login-cancel').addEventListener('click', () => $('login-dialog').close());
  $('logout').addEventListener('click', logout);
  try {
    await loadStatus();
  } catch (err) {
    say(`The server's status cannot be read: ${err.message}`, true);
    return;
  }
  $('list-start').value = serverToday();
  $('list-end').value = addDays(serverToday(), 30);
  const view = new URLSearchParams(window.location.search).get('view');
  if (view === 'week') askWeekAhead();
  // This script runs before the calendar view's (and asks the status meanwhile); the views wait for it.
  await calendarLoaded;
  setView(['today', 'week', 'list', 'closed'].includes(view) ? view : 'today');
  state.tickTimer = setInterval(tick, 1000);
  setInterval(() => loadStatus().then(() => state.view === 'today' && showToday())
      .catch((e) => say(e.message, true)), 30000);
}

start();
