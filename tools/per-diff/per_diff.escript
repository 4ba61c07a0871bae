#!/usr/bin/env escript
%% Erlang's side of the aligned PER differential check (tools/per-diff.sh).
%% Talks to our driver (per_diff_driver) through a port, one line per image.
%%
%%   per_diff.escript CODEDIR VALUEDIR DRIVER COUNT SEED LOGDIR
%%
%% CODEDIR holds the compiled modules; VALUEDIR the databases asn1ct:value
%% reads (root values only, see adapt.py).
%%
%% Per type: (a) COUNT random values made by asn1ct:value, encoded by
%% Erlang, decoded and encoded again by ours: the octets must come back the
%% same; (b) COUNT random values made by ours, decoded by Erlang and encoded
%% again by Erlang: the same octets; (c) mutations of every image of (a) and
%% (b): where both sides accept one, both encode the value they read into
%% the same octets; images only one side accepts are listed (kind r) for
%% reading against X.691. The exit status is 1 when (a), (b) or the values
%% of (c) disagree. Disagreements go to LOGDIR, one
%% line each: "kind type image erlang-answer ours-answer"; pairs of images
%% of one value in two forms go to LOGDIR/forms.txt, and images where ours
%% read one of its deliberate departures from X.691 to LOGDIR/departures.txt.
-mode(compile).

types() ->
    [{'LGCP', 'Message'}, {'MON', 'Message'}, {'CCP', 'Message'},
     {'ACP', 'AcpPDU'}, {'HSP', 'HspPDU'}, {'MEDIA', 'MediaPDU'},
     {'TERM', 'TermPDU'}, {'ZARNGW', 'ProtoZarnPackets'},
     {'LGCP', 'Command'}, {'LGCP', 'Response'}, {'LGCP', 'Signal'}].

main([CodeDir, ValueDir, Driver, CountS, SeedS, LogDir]) ->
    true = code:add_patha(filename:absname(CodeDir)),
    DriverAbs = filename:absname(Driver),
    LogAbs = filename:absname(LogDir),
    %% asn1ct:value looks for the compiled modules' databases here.
    ok = file:set_cwd(ValueDir),
    Count = list_to_integer(CountS),
    Seed = list_to_integer(SeedS),
    rand:seed(exsss, {Seed, 7, 11}),
    Port = open_port({spawn_executable, DriverAbs},
                     [{line, 1 bsl 24}, binary, use_stdio, exit_status]),
    ok = filelib:ensure_dir(filename:join(LogAbs, "x")),
    {ok, Log} = file:open(filename:join(LogAbs, "disagreements.txt"), [write]),
    put(log, Log),
    {ok, Forms} = file:open(filename:join(LogAbs, "forms.txt"), [write]),
    put(forms, Forms),
    {ok, Departures} = file:open(filename:join(LogAbs, "departures.txt"), [write]),
    put(departures, Departures),
    Totals = lists:foldl(fun(T, Acc) -> add(Acc, one_type(Port, T, Count, Seed)) end,
                         #{}, types()),
    file:close(Log),
    io:format("total: ~s~n", [show(Totals)]),
    Bad = maps:get(a_diff, Totals, 0) + maps:get(b_diff, Totals, 0)
        + maps:get(c_diff, Totals, 0),
    halt(if Bad == 0 -> 0; true -> 1 end).

add(A, B) -> maps:fold(fun(K, V, M) -> maps:update_with(K, fun(X) -> X + V end, V, M) end, A, B).

show(M) -> string:join([io_lib:format("~p=~p", [K, V]) || {K, V} <- lists:sort(maps:to_list(M))], " ").

name({M, T}) -> atom_to_list(M) ++ "." ++ atom_to_list(T).

one_type(Port, {M, T} = Type, Count, Seed) ->
    %% (a) Erlang's values through our decoder and encoder.
    A = [erl_value(Port, Type) || _ <- lists:seq(1, Count)],
    %% (b) our values through Erlang's decoder and encoder.
    B = [our_value(Port, Type, Seed * 100000 + I) || I <- lists:seq(1, Count)],
    Images = [I || {_, I} <- A ++ B, is_binary(I)],
    %% (c) hostile images.
    C = [hostile(Port, Type, mutate(I)) || I <- Images, _ <- lists:seq(1, 8)],
    Stats = add(add(tally(a, A), tally(b, B)), tally(c, C)),
    io:format("~s ~s~n", [name(Type), show(Stats)]),
    _ = M, _ = T,
    Stats.

tally(Dir, Results) ->
    lists:foldl(fun({K, _}, Acc) ->
                        Key = list_to_atom(atom_to_list(Dir) ++ "_" ++ atom_to_list(K)),
                        maps:update_with(Key, fun(X) -> X + 1 end, 1, Acc)
                end, #{}, Results).

ours(Port, Op, Type, Arg) ->
    Port ! {self(), {command, [Op, " ", name(Type), " ", Arg, "\n"]}},
    receive
        {Port, {data, {eol, Line}}} -> Line;
        {Port, {exit_status, S}} -> error({driver_exit, S})
    after 60000 -> error(driver_timeout)
    end.

hex(B) -> binary:encode_hex(B).

erl_decode({M, T}, B) ->
    try M:decode(T, B) of
        {ok, V, _Rest} -> {ok, V};
        {ok, V} -> {ok, V};
        Other -> {error, Other}
    catch C:E -> {error, {C, E}}
    end.

erl_encode({M, T}, V) ->
    try M:encode(T, V) of
        {ok, B} -> {ok, B};
        Other -> {error, Other}
    catch C:E -> {error, {C, E}}
    end.

disagree(Kind, Type, Image, Erl, Ours) ->
    io:format(get(log), "~s ~s ~s ~0p ~s~n", [Kind, name(Type), hex(Image), Erl, Ours]).

erl_value(Port, {M, T} = Type) ->
    V = case asn1ct:value(M, T) of {ok, X} -> X; X -> X end,
    case erl_encode(Type, V) of
        {error, _} -> {erl_enc_fail, none};
        {ok, B} ->
            Expect = <<"OK ", (hex(B))/binary>>,
            case ours(Port, "D", Type, hex(B)) of
                Expect -> {same, B};
                Other -> disagree(a, Type, B, V, Other), {diff, B}
            end
    end.

our_value(Port, Type, Seed) ->
    case ours(Port, "R", Type, integer_to_list(Seed)) of
        <<"OK ", Hex/binary>> ->
            B = binary:decode_hex(Hex),
            case erl_decode(Type, B) of
                {ok, V} ->
                    case erl_encode(Type, V) of
                        {ok, B} -> {same, B};
                        {ok, E} ->
                            case same_value(Port, Type, B, E) of
                                true -> {form, B};
                                false -> disagree(b, Type, B, {ok, E}, <<"OK">>), {diff, B}
                            end;
                        E -> disagree(b, Type, B, E, <<"OK">>), {diff, B}
                    end;
                E -> disagree(b, Type, B, E, <<"OK">>), {diff, B}
            end;
        _ -> {our_enc_fail, none}
    end.

hostile(Port, Type, Image) ->
    Erl = case erl_decode(Type, Image) of
              {ok, V} -> case erl_encode(Type, V) of
                             {ok, B} -> {ok, B};
                             _ -> {ok, noenc}
                         end;
              {error, Why} -> put(why, Why), refused
          end,
    {Ours, Notes} = case binary:split(ours(Port, "D", Type, hex(Image)), <<" ">>, [global]) of
                        [<<"OK">>, Hex | N] -> {{ok, binary:decode_hex(Hex)}, N};
                        [<<"NOENC">> | N] -> {{ok, noenc}, N};
                        [<<"ERR">> | N] -> {refused, N}
                    end,
    Disagree = fun(Erlang) when Notes =/= [] ->
                       %% One of our deliberate departures from X.691 was read.
                       io:format(get(departures), "~s ~s ~0p ~0p ~s~n",
                                 [name(Type), hex(Image), Erlang, Ours, lists:join(" ", Notes)]),
                       {departure, Image};
                  ({ok, _} = Erlang) when Ours =/= refused ->
                       %% Both read it, as different values.
                       disagree(c, Type, Image, Erlang, io_lib:format("~0p", [Ours])),
                       {diff, Image};
                  (Erlang) ->
                       %% One side refuses: to be read against X.691 (Erlang
                       %% takes fragmented lengths of no fragment, numbers
                       %% and arcs of any size, identifiers cut in an arc).
                       disagree(r, Type, Image, Erlang, io_lib:format("~0p", [Ours])),
                       {refusal, Image}
               end,
    case {Erl, Ours} of
        {refused, refused} -> {both_refuse, Image};
        {{ok, X}, {ok, X}} -> {both_same, Image};
        {{ok, noenc}, {ok, _}} -> {both_accept, Image};
        {{ok, _}, {ok, noenc}} -> {both_accept, Image};
        {{ok, E}, {ok, O}} ->
            case same_value(Port, Type, O, E) of
                true -> {both_form, Image};
                false -> Disagree(Erl)
            end;
        {refused, _} -> Disagree({refused, why(get(why))});
        _ -> Disagree(Erl)
    end.

%% Where Erlang's decoder gave up: the innermost generated function.
why({error, {asn1, {Reason, [{M, F, _, _} | _]}}}) ->
    {element(1, if is_tuple(Reason) -> Reason; true -> {Reason} end), M, F};
why(Other) -> Other.

%% Two encodings of one value in different forms (ours sizes a SEQUENCE's
%% extension bitmap to its last included addition, Erlang to all the type
%% knows): each side must read both as the same value.
same_value(Port, Type, Ours, Erl) ->
    case ours(Port, "S", Type, [hex(Ours), " ", hex(Erl)]) of
        <<"SAME">> ->
            case {erl_decode(Type, Ours), erl_decode(Type, Erl)} of
                {{ok, V}, {ok, V}} ->
                    io:format(get(forms), "~s ~s ~s~n", [name(Type), hex(Ours), hex(Erl)]),
                    true;
                _ -> false
            end;
        _ -> false
    end.

%% One to three random changes of a valid image.
mutate(Image) ->
    lists:foldl(fun(_, I) -> mutate1(I) end, Image, lists:seq(1, rand:uniform(3))).

mutate1(<<>>) -> <<(rand:uniform(256) - 1)>>;
mutate1(I) ->
    N = byte_size(I),
    P = rand:uniform(N) - 1,
    <<Pre:P/binary, Byte, Post/binary>> = I,
    case rand:uniform(7) of
        1 -> <<Pre/binary, (Byte bxor (1 bsl (rand:uniform(8) - 1))), Post/binary>>;
        2 -> <<Pre/binary, (rand:uniform(256) - 1), Post/binary>>;
        3 -> binary:part(I, 0, P);
        4 -> binary:part(I, 0, N - 1);
        5 -> <<Pre/binary, (rand:uniform(256) - 1), Byte, Post/binary>>;
        6 -> <<I/binary, (rand:uniform(256) - 1)>>;
        7 -> <<Pre/binary, (lists:nth(rand:uniform(4), [0, 16#FF, 16#80, 16#7F])), Post/binary>>
    end.
