// The form that asks for a report's parameters before a run, in the order
// the report lists them: each with its description, its default, a list
// where the report gives choices, and its pattern checked as the user types.
// The server checks every value again; this only says it sooner.

import {fill, h} from '/dom.js';

/** Why the console would refuse \a value for \a parameter; '' when it would not. */
export function valueProblem(parameter, value) {
  // The server counts bytes of UTF-8, as the report program reads them.
  if (new TextEncoder().encode(value).length > 1000) return 'The value is longer than 1,000 characters.';
  if (/[\u0000-\u001f\u007f]/.test(value)) return 'The value holds a control character.';
  if (/^-[cf]$/i.test(value)) return 'The value cannot be -C or -F, which the report program reads as options.';
  if (parameter.choices) {
    return parameter.choices.includes(value) ? '' : `Choose one of: ${parameter.choices.join(', ')}.`;
  }
  if (parameter.pattern) {
    let expression;
    try {
      expression = new RegExp(`^(?:${parameter.pattern})$`);
    } catch (error) {
      return '';  // the server says what is wrong with the pattern
    }
    return expression.test(value) ? '' : `The value must match the pattern ${parameter.pattern}.`;
  }
  if (/['";\\]|--|\/\*/.test(value)) {
    return 'This report allows no quote, semicolon, backslash or comment marker (-- or /*) in this value.';
  }
  return '';
}

/** The form; \a submit gets {name: value} once every value is acceptable. */
export function parameterForm(report, submit) {
  const fields = report.parameters.map((parameter, index) => {
    const id = `parameter-${index + 1}`;
    const hint = h('p', {id: `${id}-hint`, class: 'hint'},
      parameter.description || null,
      parameter.pattern ? h('span', {class: 'pattern'}, ' Pattern: ', h('code', {}, parameter.pattern)) : null);
    const error = h('p', {id: `${id}-error`, class: 'error'});
    const control = parameter.choices
      ? h('select', {id, name: parameter.name},
          (parameter.choices.includes(parameter.default) ? [] : [['', 'Choose…']])
            .concat(parameter.choices.map((c) => [c, c]))
            .map(([value, text]) => h('option', {value, selected: value === parameter.default}, text)))
      : h('input', {id, name: parameter.name, value: parameter.default, autocomplete: 'off',
                    spellcheck: 'false'});
    control.setAttribute('aria-describedby', `${id}-hint ${id}-error`);
    const check = () => {
      const message = valueProblem(parameter, control.value);
      fill(error, message);
      if (message) control.setAttribute('aria-invalid', 'true');
      else control.removeAttribute('aria-invalid');
      return message;
    };
    control.addEventListener(parameter.choices ? 'change' : 'input', check);
    return {parameter, control, check, element: h('div', {class: 'field'},
      h('label', {for: id}, parameter.name), hint, control, error)};
  });
  const button = h('button', {type: 'submit'}, 'Run');
  const form = h('form', {class: 'parameters', novalidate: true},
    fields.length ? fields.map((f) => f.element) : h('p', {}, 'This report asks for no parameters.'),
    h('p', {class: 'actions'}, button, ' ', h('a', {href: '#/reports'}, 'Cancel')));
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const wrong = fields.filter((f) => f.check());
    if (wrong.length) {
      wrong[0].control.focus();
      return;
    }
    button.disabled = true;
    try {
      await submit(Object.fromEntries(fields.map((f) => [f.parameter.name, f.control.value])));
    } finally {
      button.disabled = false;
    }
  });
  return form;
}
