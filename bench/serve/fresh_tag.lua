-- wrk: every request asks orvia-tag serve for a copy with a tag never asked
-- for before (thread number and a counter), so no cache can help; done()
-- prints one machine-readable line for bench/serve/run.
local threads = {}
local next_id = 0

function setup(thread)
  thread:set("id", next_id)
  next_id = next_id + 1
  table.insert(threads, thread)
end

local counter = 0

local function encode(text)
  return (text:gsub("[^%w%-%._~]", function(c)
    return string.format("%%%02X", string.byte(c))
  end))
end

function request()
  counter = counter + 1
  local tag = string.format(
    "appguid={%08X-0000-4000-8000-%012X}&appname=Reference%%20Product&needsadmin=false&lang=en",
    id, counter)
  return wrk.format("GET", "/dl/OrviaSetup.exe?tag=" .. encode(tag))
end

function done(summary, latency, requests)
  local errors = summary.errors
  io.write(string.format("RESULT requests=%d bytes=%d duration_us=%d p99_us=%d errors=%d status_errors=%d\n",
    summary.requests, summary.bytes, summary.duration, latency:percentile(99),
    errors.connect + errors.read + errors.write + errors.timeout, errors.status))
end
