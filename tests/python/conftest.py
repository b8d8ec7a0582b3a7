import pytest
from hypothesis import settings

from support import MODELS, model_arguments


@pytest.fixture(scope="session")
def arguments(tmp_path_factory):
    return model_arguments(tmp_path_factory.mktemp("spectra"))


@pytest.fixture(scope="session")
def make(arguments):
    """make(kind, **overrides): a model, "tarvex" or "multipmt", of the shared arguments and seed 42."""
    return lambda kind, **overrides: MODELS[kind](**{**arguments[kind], "seed": 42, **overrides})


@pytest.fixture
def records(make):
    return {kind: make(kind).simulate([1e-7, 4e-7], 5) for kind in MODELS}


# A long exploration: pytest --hypothesis-profile=explore tests/python/test_properties.py
settings.register_profile("explore", max_examples=3000)
