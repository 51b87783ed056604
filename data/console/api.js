// The JSON API of the server: the only thing the pages talk to.

let csrf = '';

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

export function setCsrf(token) {
  csrf = token || '';
}

export async function api(method, path, body) {
  const headers = {Accept: 'application/json'};
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  if (method !== 'GET' && csrf) headers['X-CSRF-Token'] = csrf;
  let response;
  try {
    response = await fetch(path, {
      method, headers, credentials: 'same-origin',
      body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch (error) {
    throw new ApiError(0, 'The server cannot be reached. Check the connection and try again.');
  }
  let data = null;
  try {
    data = await response.json();
  } catch (error) {
    data = null;
  }
  if (!response.ok) {
    const message = data && typeof data.error === 'string' ? data.error
                                                          : `The server answered ${response.status}.`;
    throw new ApiError(response.status, message);
  }
  return data;
}

/** The path of a report's API resource: each part of its id escaped. */
export function reportPath(id) {
  return id.split('/').map(encodeURIComponent).join('/');
}
