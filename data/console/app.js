// The console's pages: a router over the location's hash and one view per
// page. Each view builds its elements from the API's answers.

import {ApiError, api, reportPath, setCsrf} from '/api.js';
import {FINAL_STATES, announce, duration, fill, h, stateBadge, when} from '/dom.js';
import {parameterForm} from '/run_form.js';
import {runView} from '/run_view.js';
import {scheduleFormView, schedulesView} from '/schedules.js';

const main = document.getElementById('main');
let me = null;           // {user, role, csrf} once signed in
let reports = null;      // the reports list, as last read
let leaveView = null;    // what the current view does when another is shown
const PAGE = 25;

const routes = [
  [/^reports$/, reportsView],
  [/^run\/(.+)$/, (match) => runFormView(decoded(match[1]))],
  [/^runs\/(\d+)$/, async (match) => {
    await loadReports().catch(() => null);  // for the report's title; the run says the rest
    return runView(main, Number(match[1]), setLeave, titleOf);
  }],
  [/^history$/, historyView],
  [/^audit$/, auditView],
  [/^schedules$/, async () => {
    if (me.role !== 'admin') throw new Error('Only admins manage schedules.');
    await loadReports();
    return schedulesView(main, heading, table, titleOf);
  }],
  [/^schedules\/(new|\d+)$/, async (match) => {
    if (me.role !== 'admin') throw new Error('Only admins manage schedules.');
    return scheduleFormView(main, heading, match[1], await loadReports(), me);
  }],
];

function decoded(text) {
  try {
    return decodeURIComponent(text);
  } catch (error) {
    throw new Error('This address names no report.');
  }
}

function setLeave(callback) {
  leaveView = callback;
}

function currentRoute() {
  const hash = location.hash.replace(/^#\/?/, '');
  const question = hash.indexOf('?');
  return {
    path: question < 0 ? hash : hash.slice(0, question),
    query: new URLSearchParams(question < 0 ? '' : hash.slice(question + 1)),
  };
}

function heading(text) {
  document.title = `${text} — Report console`;
  return h('h1', {}, text);
}

function problem(message) {
  return h('p', {class: 'alert', role: 'alert'}, message);
}

async function show() {
  if (leaveView) leaveView();
  leaveView = null;
  const {path} = currentRoute();
  if (!me) {
    signInView();
    return;
  }
  for (const link of document.querySelectorAll('#nav a')) {
    if (link.dataset.route === path.split('/')[0]) link.setAttribute('aria-current', 'page');
    else link.removeAttribute('aria-current');
  }
  const route = routes.find(([pattern]) => pattern.test(path));
  if (!route) {
    location.replace('#/reports');
    return;
  }
  fill(main, h('p', {class: 'loading'}, 'Loading…'));
  try {
    await route[1](path.match(route[0]));
  } catch (error) {
    if (error instanceof ApiError && error.status === 401) {
      signedOut('Your session has ended: sign in again.');
      return;
    }
    fill(main, heading('Something went wrong'), problem(error.message),
         h('p', {}, h('a', {href: '#/reports'}, 'Back to the reports')));
  }
  // The view may have put the focus on its first field; else the page's
  // content takes it, so that a screen reader starts there.
  if (!main.contains(document.activeElement)) main.focus({preventScroll: true});
}

// Sign-in and out ----------------------------------------------------------

function signedIn(session) {
  me = session;
  setCsrf(session.csrf);
  reports = null;
  document.getElementById('who-name').textContent = `${session.user} (${session.role})`;
  document.getElementById('who').hidden = false;
  document.getElementById('nav').hidden = false;
  document.getElementById('nav-audit').hidden = session.role !== 'admin';
  document.getElementById('nav-schedules').hidden = session.role !== 'admin';
}

function signedOut(message) {
  me = null;
  setCsrf('');
  reports = null;
  document.getElementById('who').hidden = true;
  document.getElementById('nav').hidden = true;
  signInView(message);
}

function signInView(message) {
  const error = h('div', {id: 'sign-in-error'});
  const user = h('input', {id: 'user', name: 'user', autocomplete: 'username', required: true,
                           autocapitalize: 'none', spellcheck: 'false'});
  const password = h('input', {id: 'password', name: 'password', type: 'password',
                               autocomplete: 'current-password', required: true});
  const button = h('button', {type: 'submit'}, 'Sign in');
  const form = h('form', {class: 'narrow', novalidate: true},
    h('div', {class: 'field'}, h('label', {for: 'user'}, 'User name'), user),
    h('div', {class: 'field'}, h('label', {for: 'password'}, 'Password'), password),
    button);
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    if (!user.value || !password.value) {
      fill(error, problem('Enter your user name and your password.'));
      (user.value ? password : user).focus();
      return;
    }
    button.disabled = true;
    try {
      signedIn(await api('POST', '/api/v1/session', {user: user.value, password: password.value}));
      if (!currentRoute().path || currentRoute().path === 'sign-in') location.hash = '#/reports';
      else show();
    } catch (failure) {
      fill(error, problem(failure.message));
      password.value = '';
      password.focus();
    } finally {
      button.disabled = false;
    }
  });
  fill(main, heading('Sign in'), message ? h('p', {class: 'note', role: 'status'}, message) : null,
       error, form);
  user.focus();
}

document.getElementById('sign-out').addEventListener('click', async () => {
  try {
    await api('DELETE', '/api/v1/session');
  } catch (error) {
    // Signed out on the server already, or it cannot be reached: either way
    // this page forgets the session.
  }
  signedOut('You have signed out.');
});

// Reports ------------------------------------------------------------------

async function loadReports(again = false) {
  if (!reports || again) reports = await api('GET', '/api/v1/reports');
  return reports;
}

function titleOf(id) {
  const report = reports && reports.find((r) => r.id === id);
  return report ? report.title : id;
}

function lastRun(run) {
  if (!run) return h('p', {class: 'last-run'}, 'Not run yet.');
  return h('p', {class: 'last-run'}, 'Last run ', h('a', {href: `#/runs/${run.id}`}, `#${run.id}`),
           ': ', stateBadge(run.state), ' ', when(run.started_at || run.queued_at),
           run.duration_seconds !== undefined ? `, ${duration(run.duration_seconds)}` : '',
           `, by ${run.user}`);
}

async function reportsView() {
  const list = await loadReports(true);
  const filter = h('input', {id: 'filter', type: 'search', autocomplete: 'off',
                             'aria-describedby': 'filter-count'});
  const count = h('p', {id: 'filter-count', class: 'count', 'aria-live': 'polite'});
  const items = h('ul', {class: 'reports'});
  const render = () => {
    const words = filter.value.trim().toLowerCase();
    const shown = list.filter((r) => !words || `${r.title} ${r.id}`.toLowerCase().includes(words));
    fill(items, shown.map((report) => h('li', {class: 'card'},
      h('h2', {}, report.title),
      h('p', {class: 'id'}, report.id),
      lastRun(report.last_run),
      h('p', {class: 'actions'},
        report.may_run ? h('a', {class: 'button', href: `#/run/${encodeURIComponent(report.id)}`,
                                 'aria-label': `Run ${report.title}`}, 'Run') : null,
        h('a', {href: `#/history?report=${encodeURIComponent(report.id)}`,
                'aria-label': `History of ${report.title}`}, 'History')))));
    if (list.length === 0) {
      fill(count, 'You may not see any report yet. An admin adds your name or role to a ' +
                  'catalogue\'s Viewers= or Runners= in the server\'s configuration.');
    } else if (shown.length === 0) {
      fill(count, `No report matches “${filter.value.trim()}”. Clear the filter to see all ` +
                  `${list.length}.`);
    } else {
      fill(count, shown.length === list.length ? `${list.length} reports.`
                                               : `${shown.length} of ${list.length} reports.`);
    }
  };
  filter.addEventListener('input', render);
  render();
  fill(main, heading('Reports'),
       list.length ? h('div', {class: 'field filter'},
                       h('label', {for: 'filter'}, 'Filter by title or id'), filter) : null,
       count, items);
}

async function runFormView(id) {
  const report = (await loadReports()).find((r) => r.id === id);
  if (!report) throw new Error(`There is no report “${id}” that you may see.`);
  const title = heading(`Run ${report.title}`);
  if (!report.may_run) {
    fill(main, title, problem('You may see this report but not run it.'));
    return;
  }
  const error = h('div');
  const form = parameterForm(report, async (values) => {
    try {
      const run = await api('POST', `/api/v1/reports/${reportPath(report.id)}/runs`,
                            {parameters: values});
      location.hash = `#/runs/${run.id}`;
    } catch (failure) {
      if (failure instanceof ApiError && failure.status === 401) {
        window.dispatchEvent(new Event('console:signed-out'));
        return;
      }
      fill(error, problem(failure.message));
      error.firstChild.tabIndex = -1;
      error.firstChild.focus();
    }
  });
  fill(main, title, h('p', {class: 'id'}, report.id), error, form);
  const first = form.querySelector('input, select, button');
  if (first) first.focus();
}

// History and audit --------------------------------------------------------

// Links to the newest page and to the next older one; a page is asked for
// with one row more than it shows, so that Older is offered only when there
// is an older row.
function pager(route, query, rows) {
  const links = [];
  const address = (parameters) => `#/${route}${String(parameters) ? `?${parameters}` : ''}`;
  if (query.get('before')) {
    const newest = new URLSearchParams(query);
    newest.delete('before');
    links.push(h('a', {href: address(newest)}, 'Newest'));
  }
  if (rows.length > PAGE) {
    const older = new URLSearchParams(query);
    older.set('before', rows[PAGE - 1].id);
    links.push(h('a', {href: address(older)}, 'Older'));
  }
  return links.length ? h('nav', {class: 'pager', 'aria-label': 'Pages'}, links) : null;
}

function select(id, label, options, chosen) {
  return h('div', {class: 'field'}, h('label', {for: id}, label),
    h('select', {id, name: id}, options.map(([value, text]) =>
      h('option', {value, selected: value === chosen}, text))));
}

function table(caption, headings, rows) {
  return h('div', {class: 'table', role: 'region', 'aria-label': caption, tabindex: '0'}, h('table', {},
    h('caption', {class: 'visually-hidden'}, caption),
    h('thead', {}, h('tr', {}, headings.map((text) => h('th', {scope: 'col'}, text)))),
    h('tbody', {}, rows.map((cells) => h('tr', {}, cells.map((cell, i) =>
      h('td', {'data-label': headings[i]}, cell)))))));
}

async function historyView() {
  const {query} = currentRoute();
  const list = await loadReports();
  const parameters = new URLSearchParams({limit: PAGE + 1});
  for (const key of ['report', 'state', 'before']) if (query.get(key)) parameters.set(key, query.get(key));
  const runs = await api('GET', `/api/v1/runs?${parameters}`);
  const shown = runs.slice(0, PAGE);
  const chosen = query.get('report') || '';
  const choices = list.map((r) => [r.id, r.title]);
  if (chosen && !list.some((r) => r.id === chosen)) choices.push([chosen, chosen]);
  const states = ['queued', 'running', ...FINAL_STATES];
  const filters = h('form', {class: 'filters'},
    select('report', 'Report', [['', 'All reports'], ...choices], chosen),
    select('state', 'State', [['', 'Any state'], ...states.map((s) => [s, s])],
           query.get('state') || ''),
    h('button', {type: 'submit'}, 'Show'));
  filters.addEventListener('submit', (event) => {
    event.preventDefault();
    const chosen = new URLSearchParams();
    for (const key of ['report', 'state']) if (filters.elements[key].value) chosen.set(key, filters.elements[key].value);
    location.hash = `#/history?${chosen}`;
  });
  let empty = 'No run to show yet.';
  if (query.get('before')) empty = 'No older runs.';
  else if (query.get('report') || query.get('state')) empty = 'No run matches these filters.';
  fill(main, heading('History'), filters,
       shown.length === 0
         ? h('p', {class: 'count'}, empty)
         : table('Runs, newest first', ['Run', 'Report', 'State', 'By', 'Started', 'Duration', 'Errors'],
                 shown.map((run) => [h('a', {href: `#/runs/${run.id}`}, `#${run.id}`), titleOf(run.report),
                                    stateBadge(run.state), run.user, when(run.started_at || run.queued_at),
                                    duration(run.duration_seconds),
                                    run.errors === null ? '—' : String(run.errors)])),
       pager('history', query, runs));
}

async function auditView() {
  const {query} = currentRoute();
  if (me.role !== 'admin') throw new Error('Only admins read the audit log.');
  const parameters = new URLSearchParams({limit: PAGE + 1});
  if (query.get('before')) parameters.set('before', query.get('before'));
  const entries = await api('GET', `/api/v1/audit?${parameters}`);
  fill(main, heading('Audit log'),
       entries.length === 0
         ? h('p', {class: 'count'}, query.get('before') ? 'No older entries.'
                                                        : 'Nothing has been recorded yet.')
         : table('Audit log, newest first', ['When', 'Who', 'Address', 'What', 'Detail'],
                 entries.slice(0, PAGE).map((e) => [when(e.at), e.user, e.address, e.action,
                                                     e.detail])),
       pager('audit', query, entries));
}

// Start --------------------------------------------------------------------

window.addEventListener('hashchange', show);
window.addEventListener('console:signed-out', () => signedOut('Your session has ended: sign in again.'));
(async () => {
  try {
    signedIn(await api('GET', '/api/v1/session'));
  } catch (error) {
    me = null;
  }
  if (!location.hash) location.replace('#/reports');
  show();
  announce('Report console ready.');
})();
