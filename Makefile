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

# Benchmarks, not tests: results are printed, nothing is asserted.
.PHONY: bench
bench: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native --target out_buf_bench
	build/native/bin/out_buf_bench
