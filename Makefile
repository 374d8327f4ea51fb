# The two commands a new user needs: `make test` and `make run`.
.PHONY: test run bootstrap clean

test: bootstrap
	scripts/test-all

run: bootstrap
	scripts/run

bootstrap:
	scripts/bootstrap

clean:
	rm -rf build

# Benchmarks, not tests: results are printed and written to bench/RESULTS.md,
# nothing is asserted. BENCH_ARGS passes options to bench/bench.py.
.PHONY: bench
bench:
	scripts/bootstrap --bench
	cmake --preset native >/dev/null
	cmake --build --preset native --target out_buf_bench quillet-resource-server
	scripts/configure-windows windows >/dev/null
	cmake --build --preset windows --target quillet-resource-server
	build/native/bin/out_buf_bench
	/usr/bin/python3 bench/bench.py $(BENCH_ARGS)
