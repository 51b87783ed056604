// One run: what it was asked with, by whom and when, its state, its log as
// the run writes it (Server-Sent Events), Stop while it goes, and its files
// once it has ended. A failed run shows its first error at the top. A run a
// schedule started shows each recipient's delivery, and offers a resend to
// those who did not get it.

import {ApiError, api} from '/api.js';
import {FINAL_STATES, announce, duration, fill, h, stateBadge, when} from '/dom.js';

// A log line is "[YYYYMMDD HH:MM:SS]    " and its message.
const MESSAGE_AT = 23;

function isError(line) {
  return line.slice(MESSAGE_AT).startsWith('Error');
}

export async function runView(main, id, setLeave, titleOf) {
  let run = await api('GET', `/api/v1/runs/${id}`);
  const lines = [];
  const title = h('h1', {});
  const first = h('div');
  const facts = h('dl', {class: 'facts'});
  const actions = h('p', {class: 'actions'});
  const log = h('ol', {class: 'log', id: 'log', 'aria-label': 'Log', tabindex: '0'});
  const logState = h('p', {class: 'count', id: 'log-state'});
  const deliveries = h('div', {'aria-live': 'polite'});
  let watching = 0;  // a timer that reads the deliveries again while some are pending

  // The first "Error:" line, with the "Error Info:" line that explains it.
  const firstError = () => {
    const at = lines.findIndex((text) => text.slice(MESSAGE_AT).startsWith('Error:'));
    if (at < 0) return null;
    const message = lines[at].slice(MESSAGE_AT + 'Error:'.length).trim();
    const info = (lines[at + 1] || '').slice(MESSAGE_AT);
    return info.startsWith('Error Info:') ? `${message} ${info.slice('Error Info:'.length).trim()}`
                                          : message;
  };

  const render = () => {
    const name = titleOf(run.report);
    document.title = `Run #${run.id} of ${name} — Report console`;
    fill(title, `Run #${run.id} of ${name}`);
    const error = run.state === 'failed' || run.state === 'interrupted' ? firstError() : null;
    fill(first, run.state === 'failed' || run.state === 'interrupted'
      ? h('div', {class: 'alert', role: 'alert'},
          h('strong', {}, run.state === 'failed' ? 'The run failed. ' : 'The run was interrupted. '),
          error ? `First error: ${error}` : (run.state === 'interrupted'
            ? 'The server stopped while it ran.' : `Exit status ${run.exit_status}.`))
      : null);
    const parameters = Object.entries(run.parameters || {});
    const fact = (term, ...value) => [h('dt', {}, term), h('dd', {}, ...value)];
    fill(facts,
      fact('State', stateBadge(run.state)),
      fact('Report', h('span', {}, name), ' ', h('span', {class: 'id'}, `(${run.report})`)),
      fact('Parameters', parameters.length
        ? h('ul', {class: 'plain'}, parameters.map(([key, value]) =>
            h('li', {}, h('code', {}, key), ' = ', h('code', {}, value))))
        : 'none'),
      fact('Run by', run.user, run.attempt > 1 ? ` (attempt ${run.attempt})` : ''),
      fact('Queued', when(run.queued_at)),
      fact('Started', when(run.started_at)),
      fact('Ended', when(run.ended_at)),
      fact('Duration', duration(run.duration_seconds)),
      FINAL_STATES.includes(run.state)
        ? fact('Exit status', run.exit_status === null ? '—' : String(run.exit_status),
               run.errors ? `, ${run.errors} error${run.errors === 1 ? '' : 's'} in the log` : '')
        : null);
    const going = !FINAL_STATES.includes(run.state);
    const files = {report: 'Download report', pdf: 'Download PDF', log: 'Download log'};
    // A button that goes away (Stop, once the run has ended) hands the
    // keyboard's focus on to what takes its place.
    const focused = actions.contains(document.activeElement);
    fill(actions,
      going && run.may_stop ? h('button', {type: 'button', class: 'danger', onclick: stop}, 'Stop') : null,
      going ? null : (run.files || []).map((kind) => [h('a', {
        class: 'button', href: `/api/v1/runs/${run.id}/files/${kind}`, download: '',
      }, files[kind] || kind), ' ']),
      h('a', {href: `#/history?report=${encodeURIComponent(run.report)}`}, 'All runs of this report'));
    if (focused && !actions.contains(document.activeElement)) actions.querySelector('a, button').focus();
    fill(logState, going ? 'The log grows as the run writes it.' : `${lines.length} lines.`);
    renderDeliveries();
  };

  const KIND = {mail: 'Mail to', folder: 'Copy into', notice: 'Notice to the owner at'};
  function renderDeliveries() {
    const list = run.deliveries || [];
    if (!list.length) {
      fill(deliveries);
      return;
    }
    const undelivered = list.some((d) => d.kind !== 'notice' && d.state === 'failed');
    const resendable = list.some((d) => d.kind !== 'notice' && d.state !== 'pending');
    fill(deliveries, h('h2', {}, 'Deliveries'),
      h('ul', {class: 'deliveries'}, list.map((d) => h('li', {},
        // Viewers see each delivery's state, not whom it went to.
        d.target === null ? `${KIND[d.kind] || d.kind} a recipient`
                          : [`${KIND[d.kind] || d.kind} `, h('code', {}, d.target || '(no address)')],
        ': ', h('span', {class: `state state-${d.state}`}, d.state),
        ` after ${d.tries} ${d.tries === 1 ? 'try' : 'tries'}`,
        d.message ? ` — ${d.message}` : '',
        d.kind === 'notice' && d.attach && d.attach.about ? ` (${d.attach.about})` : ''))),
      run.may_stop && resendable ? h('p', {class: 'actions'},
        undelivered ? h('button', {type: 'button', onclick: () => resend(false)},
                        'Resend to those who did not get it') : null,
        h('button', {type: 'button', class: undelivered ? 'quiet-button' : null,
                     onclick: () => resend(true)}, 'Resend to everyone')) : null);
    window.clearTimeout(watching);
    if (list.some((d) => d.state === 'pending') || (run.schedule && !FINAL_STATES.includes(run.state)))
      watching = window.setTimeout(reread, 2000);
  }

  async function reread() {
    try {
      const again = await api('GET', `/api/v1/runs/${id}`);
      run = {...run, deliveries: again.deliveries};
    } catch (failure) {
      // Shown again at the next change; a lost connection is said by the log.
    }
    renderDeliveries();
  }

  async function resend(all) {
    try {
      const answer = await api('POST', `/api/v1/runs/${id}/resend`, {all});
      announce(`Sending again to ${answer.resent} recipient${answer.resent === 1 ? '' : 's'}.`);
      await reread();
    } catch (failure) {
      if (failure instanceof ApiError && failure.status === 401) {
        window.dispatchEvent(new Event('console:signed-out'));
        return;
      }
      fill(first, h('p', {class: 'alert', role: 'alert'}, failure.message));
    }
  }

  async function stop(event) {
    event.target.disabled = true;
    try {
      await api('POST', `/api/v1/runs/${id}/stop`);
      announce('Stopping the run.');
      fill(logState, 'Stopping: the run ends at its next safe point.');
    } catch (failure) {
      if (failure instanceof ApiError && failure.status === 401) {
        window.dispatchEvent(new Event('console:signed-out'));
        return;
      }
      fill(first, h('p', {class: 'alert', role: 'alert'}, failure.message));
      event.target.disabled = false;
    }
  }

  render();
  fill(main, title, first, facts, actions, deliveries, h('h2', {}, 'Log'), logState, log);

  const events = new EventSource(`/api/v1/runs/${id}/events`);
  // Each connection sends the log from its start: after a reconnection the
  // lines come again, so the list starts over.
  // Lines are added in batches: a long log arrives at once, and measuring
  // the box after every line would take seconds.
  let pending = [];
  let flushing = 0;
  const flush = () => {
    flushing = 0;
    const follow = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
    const batch = document.createDocumentFragment();
    for (const line of pending) batch.append(h('li', {class: isError(line) ? 'error' : null}, line));
    pending = [];
    log.append(batch);
    if (follow) log.scrollTop = log.scrollHeight;
  };
  events.addEventListener('open', () => {
    lines.length = 0;
    pending = [];
    log.replaceChildren();
    render();
  });
  events.addEventListener('log', (event) => {
    const line = JSON.parse(event.data);
    lines.push(line);
    pending.push(line);
    if (!flushing) flushing = window.setTimeout(flush, 30);
  });
  events.addEventListener('state', (event) => {
    const changed = JSON.parse(event.data);
    const before = run.state;
    run = {...changed, may_stop: run.may_stop};
    if (FINAL_STATES.includes(run.state)) events.close();
    window.clearTimeout(flushing);
    flush();
    render();
    if (before !== run.state) announce(`Run #${run.id} ${run.state}.`);
  });
  events.addEventListener('error', () => {
    if (events.readyState === EventSource.CLOSED) fill(logState, 'The live log was cut off: reload the page.');
    else fill(logState, 'The connection to the server was lost; trying again…');
  });
  setLeave(() => {
    events.close();
    window.clearTimeout(watching);
    window.clearTimeout(flushing);
  });
}
