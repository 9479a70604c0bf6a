"""The timing loop of the benchmarks that drive one running kelvora_messaging."""
import time


def timed_calls(step, count, warm_up):
    """Seconds taken by step(n) for n from warm_up to warm_up + count, after
    the unmeasured calls step(0) to step(warm_up - 1)."""
    for n in range(warm_up):
        step(n)
    start = time.perf_counter()
    for n in range(warm_up, warm_up + count):
        step(n)
    return time.perf_counter() - start
