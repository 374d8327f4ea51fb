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
