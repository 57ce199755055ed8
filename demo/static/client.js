// Talks to the demo server's JSON API.

export class ApiError extends Error {}

export async function post(route, body) {
  const response = await fetch(route, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  const payload = await response.json().catch(() => ({}));
  if (!response.ok) {
    throw new ApiError(`${route}: ${payload.error || `HTTP ${response.status}`}`);
  }
  return payload;
}

export async function loadSample() {
  const response = await fetch('/api/sample');
  if (!response.ok) throw new ApiError(`/api/sample: HTTP ${response.status}`);
  return (await response.json()).modules;
}
