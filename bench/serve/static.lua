-- wrk: the same file every time; done() prints the line bench/serve/run reads.
function done(summary, latency, requests)
  local errors = summary.errors
  io.write(string.format("RESULT requests=%d bytes=%d duration_us=%d p99_us=%d errors=%d status_errors=%d\n",
    summary.requests, summary.bytes, summary.duration, latency:percentile(99),
    errors.connect + errors.read + errors.write + errors.timeout, errors.status))
end
