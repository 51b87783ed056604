// Schedules, for admins: the list with each one's next fire time, and a form
// that makes or changes one. The server checks every field; its message
// shows at the top of the form.

import {ApiError, api} from '/api.js';
import {fill, h, when} from '/dom.js';

const RELATIVE = 'Relative dates are computed when the schedule fires: {today:yyyy-mm-dd}, ' +
  '{previous day:…}, {previous week:…} (its Monday), {previous month:yyyy-mm}, ' +
  '{first day of previous month:…}, {last day of previous month:…}.';

function field(id, label, control, help) {
  const helpId = help ? `${id}-help` : null;
  if (helpId) control.setAttribute('aria-describedby', helpId);
  return h('div', {class: 'field'}, h('label', {for: id}, label), control,
           help ? h('p', {class: 'help', id: helpId}, help) : null);
}

function checkbox(id, label, checked) {
  return h('div', {class: 'check'}, h('input', {id, name: id, type: 'checkbox', checked}),
           h('label', {for: id}, label));
}

function attachChoice(prefix, chosen) {
  return h('fieldset', {class: 'attach'}, h('legend', {}, 'Send'),
           checkbox(`${prefix}-report`, 'the report', chosen.includes('report')),
           checkbox(`${prefix}-pdf`, 'the PDF', chosen.includes('pdf')));
}

function deliveriesText(schedule) {
  return (schedule.deliveries || []).map((d) => d.mail
    ? `mail to ${d.mail.join(', ')}` : `copy into ${d.folder}`).join('; ') || 'none';
}

export async function schedulesView(main, heading, table, titleOf) {
  const list = await api('GET', '/api/v1/schedules');
  fill(main, heading('Schedules'),
       h('p', {class: 'actions'}, h('a', {class: 'button', href: '#/schedules/new'}, 'New schedule')),
       list.length === 0
         ? h('p', {class: 'count'}, 'No schedule yet. A schedule runs a report on a calendar and ' +
                                    'sends its results by mail or into a folder.')
         : table('Schedules', ['Name', 'Report', 'Calendar', 'Next', 'Deliveries', 'Owner'],
                 list.map((s) => [h('a', {href: `#/schedules/${s.id}`}, s.name), titleOf(s.report),
                                  h('code', {}, s.calendar), s.next.length ? when(s.next[0]) : 'off',
                                  deliveriesText(s), s.owner])));
}

export async function scheduleFormView(main, heading, id, reports, me) {
  const schedule = id === 'new'
    ? {name: '', report: reports.length ? reports[0].id : '', calendar: '0 6 1 * *',
       time_zone: null, parameters: {}, owner: me.user, retries: 0, retry_delay: 600,
       catch_up: true, enabled: true, deliveries: []}
    : await api('GET', `/api/v1/schedules/${id}`);
  const mails = schedule.deliveries.filter((d) => d.mail);
  const folders = schedule.deliveries.filter((d) => d.folder);
  // The form shows one mail list and one folder; a schedule made through the
  // API with more keeps its deliveries as they are.
  const simple = mails.length <= 1 && folders.length <= 1;
  const mail = mails[0] || {mail: [], attach: ['report']};
  const folder = folders[0] || {folder: '', attach: ['report']};

  const error = h('div');
  const report = h('select', {id: 'report', name: 'report'},
    reports.map((r) => h('option', {value: r.id, selected: r.id === schedule.report}, r.title)));
  const parameters = h('div', {class: 'parameters'});
  // What was typed for each report, kept while another report is chosen.
  const typed = {[schedule.report]: {...schedule.parameters}};
  const remember = () => {
    for (const box of parameters.querySelectorAll('[data-name]'))
      (typed[box.dataset.report] ||= {})[box.dataset.name] = box.value;
  };
  const control = (p, i, chosen, value) => {
    const common = {id: `parameter-${i}`, 'data-name': p.name, 'data-report': chosen.id};
    if (p.choices) {
      return h('select', common,
        h('option', {value: ''}, `The report's default${p.default ? ` (${p.default})` : ''}`),
        p.choices.map((choice) => h('option', {value: choice, selected: choice === value}, choice)));
    }
    return h('input', {...common, autocomplete: 'off', spellcheck: 'false',
                       placeholder: p.default || '', value});
  };
  const showParameters = () => {
    const chosen = reports.find((r) => r.id === report.value);
    const values = (chosen && typed[chosen.id]) || {};
    fill(parameters, chosen && chosen.parameters.length
      ? [chosen.parameters.map((p, i) => field(`parameter-${i}`, p.name,
          control(p, i, chosen, values[p.name] || ''),
          `${p.description ? `${p.description}. ` : ''}Left empty: ${p.default ? `“${p.default}”` : 'empty'}.`)),
         h('p', {class: 'help'}, RELATIVE)]
      : h('p', {class: 'help'}, 'The report has no parameters.'));
  };
  report.addEventListener('change', () => {
    remember();
    showParameters();
  });
  showParameters();

  const input = (name, value, extra = {}) =>
    h('input', {id: name, name, value: value === null || value === undefined ? '' : String(value),
                autocomplete: 'off', spellcheck: 'false', ...extra});
  const form = h('form', {class: 'schedule', novalidate: true},
    field('name', 'Name', input('name', schedule.name, {required: true})),
    field('report', 'Report', report),
    parameters,
    field('calendar', 'Calendar', input('calendar', schedule.calendar, {required: true}),
          'Minute, hour, day of month, month, day of week (“0 6 1 * *”: 06:00 on the 1st), or ' +
          '@daily, @weekly, @monthly.'),
    field('time_zone', 'Time zone', input('time_zone', schedule.time_zone),
          'A zone such as Europe/Paris; empty for the server\'s zone.'),
    field('owner', 'Owner', input('owner', schedule.owner),
          'Hears by mail when a run or a delivery fails for good.'),
    field('retries', 'Retries of a failed run', input('retries', schedule.retries,
                                                      {type: 'number', min: 0, max: 10})),
    field('retry_delay', 'Seconds between retries', input('retry_delay', schedule.retry_delay,
                                                          {type: 'number', min: 0})),
    checkbox('catch_up', 'Run once when the server comes back after a missed time',
             schedule.catch_up),
    checkbox('enabled', 'Enabled', schedule.enabled),
    simple
      ? [h('h2', {}, 'Deliveries'),
         field('mail', 'Mail to', h('textarea', {id: 'mail', name: 'mail', rows: 3, spellcheck: 'false'},
                                    mail.mail.join('\n')), 'One address per line.'),
         attachChoice('mail-attach', mail.attach || ['report']),
         field('folder', 'Copy into the folder', input('folder', folder.folder),
               'An absolute folder; date macros (&Y, &M) and relative dates work here too.'),
         attachChoice('folder-attach', folder.attach || ['report'])]
      : h('p', {class: 'help'}, `Deliveries (set through the API, kept as they are): ` +
                                `${deliveriesText(schedule)}.`),
    h('p', {class: 'actions'}, h('button', {type: 'submit'}, 'Save'),
      id === 'new' ? null : h('button', {type: 'button', class: 'danger', onclick: remove}, 'Delete'),
      h('a', {href: '#/schedules'}, 'Back to the schedules')));

  const attachOf = (prefix) => ['report', 'pdf'].filter((kind) => form.elements[`${prefix}-${kind}`].checked);
  const number = (name) => (form.elements[name].value === '' ? NaN : Number(form.elements[name].value));

  function shown(failure) {
    if (failure instanceof ApiError && failure.status === 401) {
      window.dispatchEvent(new Event('console:signed-out'));
      return;
    }
    fill(error, h('p', {class: 'alert', role: 'alert', tabindex: '-1'}, failure.message));
    error.firstChild.focus();
  }

  async function remove() {
    if (!window.confirm(`Delete the schedule “${schedule.name}”? Its runs stay in the history.`)) return;
    try {
      await api('DELETE', `/api/v1/schedules/${id}`);
      location.hash = '#/schedules';
    } catch (failure) {
      shown(failure);
    }
  }

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const values = {};
    for (const box of parameters.querySelectorAll('[data-name]'))
      if (box.value !== '') values[box.dataset.name] = box.value;
    let deliveries = schedule.deliveries;
    if (simple) {
      deliveries = [];
      const addresses = form.elements.mail.value.split(/[\s,;]+/).filter(Boolean);
      if (addresses.length) deliveries.push({mail: addresses, attach: attachOf('mail-attach')});
      if (form.elements.folder.value.trim())
        deliveries.push({folder: form.elements.folder.value.trim(), attach: attachOf('folder-attach')});
    }
    const body = {
      name: form.elements.name.value.trim(), report: report.value, parameters: values,
      calendar: form.elements.calendar.value.trim(),
      time_zone: form.elements.time_zone.value.trim() || null,
      owner: form.elements.owner.value.trim(), retries: number('retries'),
      retry_delay: number('retry_delay'), catch_up: form.elements.catch_up.checked,
      enabled: form.elements.enabled.checked, deliveries,
    };
    try {
      await api(id === 'new' ? 'POST' : 'PUT', id === 'new' ? '/api/v1/schedules' : `/api/v1/schedules/${id}`, body);
      location.hash = '#/schedules';
    } catch (failure) {
      shown(failure);
    }
  });
  fill(main, heading(id === 'new' ? 'New schedule' : `Schedule ${schedule.name}`),
       id === 'new' ? null : h('p', {class: 'help'}, 'Next: ', schedule.next.length
         ? schedule.next.map((time, i) => [i ? ', ' : '', when(time)]) : 'off (not enabled)'),
       error, form);
  form.elements.name.focus();
}
