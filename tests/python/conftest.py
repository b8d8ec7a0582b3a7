import functools

import pytest
from hypothesis import settings

from support import build_model, model_arguments


@pytest.fixture(scope="session")
def arguments(tmp_path_factory):
    return model_arguments(tmp_path_factory.mktemp("spectra"))


@pytest.fixture(scope="session")
def make_tarvex(arguments):
    return functools.partial(build_model, "tarvex", arguments["tarvex"])


@pytest.fixture(scope="session")
def make_multipmt(arguments):
    return functools.partial(build_model, "multipmt", arguments["multipmt"])


@pytest.fixture
def records(make_tarvex, make_multipmt):
    return {"tarvex": make_tarvex().simulate([1e-7, 4e-7], 5), "multipmt": make_multipmt().simulate([1e-7, 4e-7], 5)}


# A long exploration: pytest --hypothesis-profile=explore tests/python/test_properties.py
settings.register_profile("explore", max_examples=3000)
