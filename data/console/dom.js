// Building elements without markup: every text from the server, a report or
// a log becomes a text node, so nothing it holds can run as HTML.

/** h('a', {href: '#/x', class: 'button'}, 'text', child...) */
export function h(tag, properties = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(properties)) {
    if (value === undefined || value === null || value === false) continue;
    if (name.startsWith('on')) element.addEventListener(name.slice(2), value);
    else if (name === 'class') element.className = value;
    else if (name in element && typeof value !== 'string') element[name] = value;
    else element.setAttribute(name, value === true ? '' : String(value));
  }
  append(element, children);
  return element;
}

function append(element, children) {
  for (const child of children.flat(Infinity)) {
    if (child === undefined || child === null || child === false) continue;
    element.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
}

/** Replaces what \a element holds with \a children. */
export function fill(element, ...children) {
  element.replaceChildren();
  append(element, children);
  return element;
}

/** A time from the server, shown in the browser's own zone with the zone named. */
export function when(iso) {
  if (!iso) return '—';
  const date = new Date(iso);
  const text = date.toLocaleString(undefined, {
    year: 'numeric', month: 'short', day: 'numeric',
    hour: '2-digit', minute: '2-digit', second: '2-digit', timeZoneName: 'short',
  });
  return h('time', {datetime: iso}, text);
}

export function duration(seconds) {
  if (seconds === undefined || seconds === null) return '—';
  if (seconds < 60) return `${seconds.toFixed(1)} s`;
  const whole = Math.round(seconds);
  const minutes = Math.floor(whole / 60);
  if (minutes < 60) return `${minutes} min ${whole % 60} s`;
  return `${Math.floor(minutes / 60)} h ${String(minutes % 60).padStart(2, '0')} min`;
}

export const FINAL_STATES = ['succeeded', 'failed', 'stopped', 'interrupted'];

export function stateBadge(state) {
  return h('span', {class: `state state-${state}`}, state);
}

/** Says \a text to screen readers without moving the focus. */
export function announce(text) {
  const region = document.getElementById('announce');
  region.textContent = '';
  window.setTimeout(() => { region.textContent = text; }, 50);
}
