# The two commands a new user needs: `make test` and `make run`.
.PHONY: test run release bootstrap clean

test: bootstrap
	scripts/test-all

run: bootstrap
	scripts/run

# The program a player gets, built and checked: build/release/Quillet.exe,
# signed when QUILLET_SIGN_CERT and QUILLET_SIGN_KEY name a certificate chain
# and its key (README: "Signing a release").
release: bootstrap
	cmake --workflow --preset release
	scripts/sign-release build/release/Quillet.exe

bootstrap:
	scripts/bootstrap

clean:
	rm -rf build

# Benchmarks, not tests: results are printed and written to bench/RESULTS.md,
# nothing is asserted. BENCH_ARGS passes options to bench/bench.py. The
# native server is built apart from the test build, with the shipped cache
# bound instead of the tests' small one; the Windows test build keeps the
# shipped bound already.
.PHONY: bench
bench:
	scripts/bootstrap --bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench --target out_buf_bench quillet-resource-server
	scripts/configure-windows windows >/dev/null
	cmake --build --preset windows --target quillet-resource-server
	build/bench-native/bin/out_buf_bench
	/usr/bin/python3 bench/bench.py $(BENCH_ARGS)
